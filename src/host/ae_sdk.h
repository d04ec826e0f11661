#pragma once

// The one header through which the module and the emulated host see the
// application's effect SDK. Names are the vendor's; layouts are those of the
// Windows x86-64 ABI. Every integer type is fixed-width (`A_long` is int32_t,
// never `long`), so the same layouts hold on Linux x86-64 and the checks at the
// end of this file run on both.
//
// Configured with POINTILLO_AE_SDK_DIR, the build defines
// POINTILLO_USE_VENDOR_SDK and this header includes the vendor's own headers
// instead; code elsewhere uses only names that both provide.

#ifdef POINTILLO_USE_VENDOR_SDK

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "AE_EffectPixelFormat.h"
#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"
#include "AE_Macros.h"
#include "SPBasic.h"

#else

#include <cstddef>
#include <cstdint>

#pragma pack(push, 8)

extern "C" {

// ---- Scalar types ----------------------------------------------------------

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int32_t A_Err;
typedef int32_t A_Fixed;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef unsigned char A_u_char;
typedef unsigned char A_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef uint64_t A_u_longlong;
typedef A_u_short A_UTF16Char;
typedef void** A_Handle;

typedef A_long PF_Err;
typedef A_long PF_Cmd;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamValue;
typedef A_long PF_ParamType;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;
typedef A_long PF_ChangeFlags;
typedef A_long PF_OutFlags;
typedef A_long PF_OutFlags2;
typedef A_long PF_InFlags;
typedef A_long PF_Quality;
typedef A_long PF_Field;
typedef A_long PF_WorldFlags;
typedef A_long PF_ChannelMask;
typedef A_long PF_GPU_Framework;
typedef A_long PF_PixelFormat;
typedef A_long PF_Stage;
typedef A_long PF_Fixed;
typedef A_u_long PF_UFixed;
typedef A_u_long PF_FSliderFlags;
typedef A_char PF_Boolean; // char, not A_Boolean
typedef A_short PF_ValueDisplayFlags;
typedef short PF_RenderOutputFlags;
typedef A_FpLong PF_FpLong;
typedef A_FpShort PF_FpShort;
typedef void** PF_Handle;

typedef struct PF_ProgressInfo* PF_ProgPtr; // the effect_ref
typedef struct PF_PluginData* PF_PluginDataPtr;

typedef A_long AEGP_PluginID;
typedef A_long AEGP_LayerIDVal;
typedef A_long AEGP_MaskIDVal;
typedef A_short AEGP_LTimeMode; // 16 bits
typedef A_u_long AEGP_DynStreamFlags;
typedef struct _AEGP_Effect** AEGP_EffectRefH;
typedef struct _AEGPp_Stream** AEGP_StreamRefH;
typedef struct _AEGP_Layer** AEGP_LayerH;
typedef struct _AEGP_GlobalRefcon* AEGP_GlobalRefcon;
typedef struct _AEGP_Mask** AEGP_MaskRefH;
typedef struct _AEGP_MemHandle** AEGP_MemHandle;
typedef struct _AEGP_MaskOutline** AEGP_MaskOutlineValH;
typedef struct _AEGP_TextDocument** AEGP_TextDocumentH;
typedef struct _AEGP_MarkerVal* AEGP_MarkerValP;
typedef struct _AEGP_ErrReportState AEGP_ErrReportState;
// Enumerations of slots this effect never calls; only their presence matters.
typedef A_long AEGP_LayerStream;
typedef A_long AEGP_MaskStream;
typedef A_long AEGP_StreamFlags;
typedef A_long AEGP_StreamType;
typedef A_long AEGP_KeyInterpolationMask;
typedef A_long AEGP_EffectIndex;
typedef A_long AEGP_InstalledEffectKey;
typedef A_long AEGP_EffectFlags;
typedef A_long AEGP_StreamGroupingType;

typedef int32_t int32;
typedef int32 SPErr;
typedef int32 SPBoolean; // the width of a Windows BOOL

// ---- Constants -------------------------------------------------------------

enum {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP = 1,
    PF_Cmd_UNUSED_0 = 2,
    PF_Cmd_GLOBAL_SETDOWN = 3,
    PF_Cmd_PARAMS_SETUP = 4,
    PF_Cmd_SEQUENCE_SETUP = 5,
    PF_Cmd_RENDER = 11,
    PF_Cmd_USER_CHANGED_PARAM = 13,
    PF_Cmd_UPDATE_PARAMS_UI = 14,
    PF_Cmd_SMART_PRE_RENDER = 23,
    PF_Cmd_SMART_RENDER = 24
};

enum {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_INVALID_INDEX = 513,
    PF_Err_UNRECOGNIZED_PARAM_TYPE = 514,
    PF_Err_INVALID_CALLBACK = 515,
    PF_Err_BAD_CALLBACK_PARAM = 516,
    PF_Interrupt_CANCEL = 517
};

enum {
    PF_OutFlag_NONE = 0,
    PF_OutFlag_WIDE_TIME_INPUT = 1 << 1,
    PF_OutFlag_NON_PARAM_VARY = 1 << 2,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1 << 8,
    PF_OutFlag_FORCE_RERENDER = 1 << 22,
    PF_OutFlag_DEEP_COLOR_AWARE = 1 << 25,
    PF_OutFlag_SEND_UPDATE_PARAMS_UI = 1 << 26
};

enum {
    PF_OutFlag2_NONE = 0,
    PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 1 << 3,
    PF_OutFlag2_REVEALS_ZERO_ALPHA = 1 << 7,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 1 << 10,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 1 << 12,
    PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1 << 27
};

enum {
    PF_Param_LAYER = 0,
    PF_Param_CHECKBOX = 4,
    PF_Param_COLOR = 5,
    PF_Param_POPUP = 7,
    PF_Param_FLOAT_SLIDER = 10,
    PF_Param_GROUP_START = 13,
    PF_Param_GROUP_END = 14,
    PF_Param_BUTTON = 15
};

enum {
    PF_ParamFlag_COLLAPSE_TWIRLY = 1 << 5,
    PF_ParamFlag_SUPERVISE = 1 << 6,
    PF_ParamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 1 << 9,
    PF_ParamFlag_START_COLLAPSED = PF_ParamFlag_COLLAPSE_TWIRLY
};

enum { PF_PUI_INVISIBLE = 1 << 9 };

enum { PF_ChangeFlag_CHANGED_VALUE = 1 };

enum { PF_ValueDisplayFlag_NONE = 0 };

enum { PF_LayerDefault_NONE = 0 };

enum { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA = 1, PF_Stage_BETA = 2, PF_Stage_RELEASE = 3 };

enum {
    PF_ChannelMask_ALPHA = 0x1,
    PF_ChannelMask_RED = 0x2,
    PF_ChannelMask_GREEN = 0x4,
    PF_ChannelMask_BLUE = 0x8,
    PF_ChannelMask_ARGB = 0xF
};

enum { PF_Field_FRAME = 0 };

enum { PF_RenderOutputFlag_RETURNS_EXTRA_PIXELS = 0x1 };

// Four characters, the first in the low byte.
enum {
    PF_PixelFormat_ARGB32 = 0x62677261,  // 'a' 'r' 'g' 'b'
    PF_PixelFormat_ARGB64 = 0x36316561,  // 'a' 'e' '1' '6'
    PF_PixelFormat_ARGB128 = 0x32336561, // 'a' 'e' '3' '2'
};

enum { AEGP_LTimeMode_LayerTime = 0, AEGP_LTimeMode_CompTime = 1 };

enum { AEGP_DynStreamFlag_HIDDEN = 1 << 1 };

enum {
    PF_MAX_EFFECT_NAME_LEN = 31,
    PF_MAX_EFFECT_PARAM_NAME_LEN = 31,
    PF_MAX_EFFECT_CATEGORY_NAME_LEN = 31,
    PF_MAX_EFFECT_MSG_LEN = 255
};

enum { PF_MAX_CHAN8 = 255, PF_MAX_CHAN16 = 32768 };

#define PF_AE_PLUG_IN_VERSION 13
#define PF_AE_PLUG_IN_SUBVERS 28

// The packed effect version word: bits 26-29 the high part of the version,
// 19-21 its low three bits, 15-18 sub-version, 11-14 fix version, 9-10 stage,
// 0-8 build.
#define PF_VERSION(vers, subvers, bugvers, stage, build)                                           \
    ((A_u_long)((((A_u_long)(vers) >> 3) & 0xF) << 26 | (((A_u_long)(vers)&0x7) << 19) |           \
                (((A_u_long)(subvers)&0xF) << 15) | (((A_u_long)(bugvers)&0xF) << 11) |            \
                (((A_u_long)(stage)&0x3) << 9) | ((A_u_long)(build)&0x1FF)))

// Suite names and version numbers.
#define kPFWorldSuite "PF World Suite"
#define kPFWorldSuiteVersion2 2
#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion6 13
#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPPFInterfaceSuiteVersion1 1
#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPStreamSuiteVersion6 11
#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPEffectSuiteVersion5 5
#define kAEGPDynamicStreamSuite "AEGP Dynamic Stream Suite"
#define kAEGPDynamicStreamSuiteVersion4 5
#define kPFIterate8Suite "PF Iterate8 Suite"
#define kPFIterate8SuiteVersion2 2

// iterate_generic's count for "once on each of the host's threads".
enum { PF_Iterations_ONCE_PER_PROCESSOR = -1 };

// ---- Small records ---------------------------------------------------------

typedef struct {
    A_long value;
    A_u_long scale;
} A_Time;

typedef struct {
    A_u_char alpha, red, green, blue;
} PF_Pixel;
typedef PF_Pixel PF_Pixel8;
typedef PF_Pixel PF_UnionablePixel;

typedef struct {
    A_u_short alpha, red, green, blue;
} PF_Pixel16;

typedef struct {
    PF_FpShort alpha, red, green, blue;
} PF_PixelFloat;
typedef PF_PixelFloat PF_Pixel32;

typedef PF_Pixel* PF_PixelPtr;

typedef struct {
    A_long left, top, right, bottom;
} PF_LRect;
typedef PF_LRect PF_Rect;
typedef PF_LRect PF_UnionableRect;

typedef struct {
    A_long num;
    A_u_long den;
} PF_RationalScale;

typedef struct {
    union {
        A_long x;
        A_long h;
    };
    union {
        A_long y;
        A_long v;
    };
} PF_Point;

typedef struct {
    A_short major;
    A_short minor;
} PF_SpecVersion;

typedef struct {
    PF_FpLong rateF;
    A_short num_channels;
    A_short format;
    A_short sample_size;
} PF_SoundFormatInfo;

typedef struct {
    PF_SoundFormatInfo fi;
    A_long num_samples;
    void* dataP;
} PF_SoundWorld;

typedef struct {
    PF_ParamIndex param_index;
} PF_UserChangedParamExtra;

// ---- Worlds ----------------------------------------------------------------

typedef struct PF_LayerDef {
    void* reserved0;
    void* reserved1;
    PF_WorldFlags world_flags;
    PF_PixelPtr data; // null when the world has no pixels
    A_long rowbytes;  // bytes per row, may exceed width x pixel size
    A_long width;
    A_long height;
    PF_UnionableRect extent_hint;
    void* platform_ref;
    A_long reserved_long1;
    void* reserved_long4;
    PF_RationalScale pix_aspect_ratio;
    void* reserved_long2;
    A_long origin_x;
    A_long origin_y;
    A_long reserved_long3;
    A_long dephault; // a layer parameter's default
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;

// ---- Parameter definitions -------------------------------------------------

typedef struct {
    PF_ParamValue value;
    A_char value_str[32];
    A_char value_desc[32];
    PF_ParamValue valid_min, valid_max;
    PF_ParamValue slider_min, slider_max;
    PF_ParamValue dephault;
} PF_SliderDef;

typedef struct {
    PF_Fixed value;
    A_char value_str[32];
    A_char value_desc[32];
    PF_Fixed valid_min, valid_max;
    PF_Fixed slider_min, slider_max;
    PF_Fixed dephault;
    A_short precision;
    A_short display_flags;
} PF_FixedSliderDef;

typedef struct {
    PF_FpLong value;
    PF_FpLong phase;
    A_char value_desc[32];
    PF_FpShort valid_min, valid_max;
    PF_FpShort slider_min, slider_max;
    PF_FpShort dephault;
    A_short precision;
    PF_ValueDisplayFlags display_flags;
    PF_FSliderFlags fs_flags;
    PF_FpShort curve_tolerance;
    PF_Boolean useExponent;
    PF_FpShort exponent;
} PF_FloatSliderDef;

typedef struct {
    PF_Fixed value;
    PF_Fixed dephault;
    PF_Fixed valid_min, valid_max;
} PF_AngleDef;

typedef struct {
    PF_ParamValue value;
    PF_Boolean dephault;
    A_char reserved;
    A_short reserved1;
    union {
        const A_char* nameptr; // label beside the box
    } u;
} PF_CheckBoxDef;

typedef struct {
    PF_UnionablePixel value;
    PF_UnionablePixel dephault;
} PF_ColorDef;

typedef struct {
    PF_Fixed x_value, y_value;
    A_char reserved[3];
    PF_Boolean restrict_bounds;
    PF_Fixed x_dephault, y_dephault;
} PF_PointDef;

typedef struct {
    PF_ParamValue value;
    A_short num_choices;
    A_short dephault;
    union {
        const A_char* namesptr; // choices separated by "|"
    } u;
} PF_PopupDef;

typedef struct {
    A_long id;
    A_short refconPV;
    A_short has_refcon;
    PF_Handle value;
    PF_Handle dephault;
    void* refconPV2;
} PF_ArbitraryDef;

typedef struct {
    A_u_long path_id;
    A_long reserved0;
    A_long dephault;
} PF_PathDef;

typedef struct {
    PF_ParamValue value;
    union {
        const A_char* namesptr; // the button label
    } u;
} PF_ButtonDef;

typedef struct {
    PF_FpLong x_value, y_value, z_value;
    PF_FpLong x_dephault, y_dephault, z_dephault;
    char reserved[16];
} PF_Point3DDef;

typedef union {
    PF_LayerDef ld;
    PF_SliderDef sd;
    PF_FixedSliderDef fd;
    PF_AngleDef ad;
    PF_CheckBoxDef bd;
    PF_ColorDef cd;
    PF_PointDef td;
    PF_PopupDef pd;
    PF_FloatSliderDef fs_d;
    PF_ArbitraryDef arb_d;
    PF_PathDef path_d;
    PF_ButtonDef button_d;
    PF_Point3DDef point3d_d;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
    union {
        A_long id;
        PF_ChangeFlags change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
    PF_ParamFlags flags;
    A_long unused;
    PF_ParamDefUnion u;
} PF_ParamDef;

typedef PF_ParamDef* PF_ParamDefPtr;
typedef PF_ParamDef** PF_ParamList;

// ---- Command records -------------------------------------------------------

struct PF_CustomUIInfo;
struct _PF_UtilCallbacks;
struct SPBasicSuite;

typedef struct {
    PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                             A_long time_step, A_u_long time_scale, PF_ParamDef* param);
    PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
    PF_Err (*abort)(PF_ProgPtr effect_ref); // non-zero: stop
    PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
    PF_Err (*register_ui)(PF_ProgPtr effect_ref, PF_CustomUIInfo* cust_info);
    PF_Err (*checkout_layer_audio)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long start_time,
                                   A_long duration, A_u_long time_scale, PF_UFixed rate,
                                   A_long bytes_per_sample, A_long num_channels, A_long fmt_signed,
                                   void* audio);
    PF_Err (*checkin_layer_audio)(PF_ProgPtr effect_ref, void* audio);
    PF_Err (*get_audio_data)(PF_ProgPtr effect_ref, void* audio, void** data0, A_long* num_samples0,
                             PF_UFixed* rate0, A_long* bytes_per_sample0, A_long* num_channels0,
                             A_long* fmt_signed0);
    void* reserved_str[3];
    void* reserved[10];
} PF_InteractCallbacks;

typedef struct {
    PF_InteractCallbacks inter;
    struct _PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    PF_Quality quality;
    PF_SpecVersion version;
    A_long serial_num;
    A_long appl_id;
    A_long num_params;
    A_long reserved;
    A_long what_cpu;
    A_long what_fpu;
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    PF_Field field;
    PF_Fixed shutter_angle;
    A_long width; // full-resolution layer size
    A_long height;
    PF_Rect extent_hint;
    A_long output_origin_x;
    A_long output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    PF_InFlags in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    A_long start_sampL;
    A_long dur_sampL;
    A_long total_sampL;
    PF_SoundWorld src_snd;
    struct SPBasicSuite* pica_basicP;
    A_long pre_effect_source_origin_x;
    A_long pre_effect_source_origin_y;
    PF_Fixed shutter_phase;
} PF_InData;

typedef struct {
    A_u_long my_version;
    A_char name[PF_MAX_EFFECT_NAME_LEN + 1];
    PF_Handle global_data;
    A_long num_params;
    PF_Handle sequence_data;
    A_long flat_sdata_size;
    PF_Handle frame_data;
    A_long width;
    A_long height;
    PF_Point origin;
    PF_OutFlags out_flags;
    A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
    A_long start_sampL;
    A_long dur_sampL;
    PF_SoundWorld dest_snd;
    PF_OutFlags2 out_flags2;
} PF_OutData;

// ---- Entry points ----------------------------------------------------------

typedef A_Err (*PF_PluginDataCB2)(PF_PluginDataPtr inPtr, const A_u_char* inNamePtr,
                                  const A_u_char* inMatchNamePtr, const A_u_char* inCategoryPtr,
                                  const A_u_char* inEntryPointNamePtr, A_long inkind,
                                  A_long inApiVersionMajor, A_long inApiVersionMinor,
                                  A_long inReservedInfo, const A_u_char* inSupportURLPtr);

// ---- Smart render ----------------------------------------------------------

typedef struct {
    PF_LRect rect;
    PF_Field field;
    PF_ChannelMask channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    char unused[3];
    A_long reserved[4];
} PF_RenderRequest;

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    PF_Boolean solid;
    PF_Boolean reservedB[3];
    A_long ref_width;
    A_long ref_height;
    A_long reserved[6];
} PF_CheckoutResult;

typedef struct {
    PF_RenderRequest output_request;
    short bitdepth;
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_PreRenderInput;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_Boolean solid;
    PF_Boolean reserved;
    PF_RenderOutputFlags flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
    PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_idL,
                             const PF_RenderRequest* req, A_long what_time, A_long time_step,
                             A_u_long time_scale, PF_CheckoutResult* checkout_result);
    PF_Err (*GuidMixInPtr)(PF_ProgPtr effect_ref, A_u_long buf_sizeLu, const void* buf);
} PF_PreRenderCallbacks;

typedef struct {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
    PF_RenderRequest output_request;
    short bitdepth;
    void* pre_render_data; // what pre-render stored in its output
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_SmartRenderInput;

typedef struct {
    PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL,
                                    PF_EffectWorld** pixels);
    PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL);
    PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
} PF_SmartRenderCallbacks;

typedef struct {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

// ---- Stream values ---------------------------------------------------------

typedef struct {
    A_FpLong x, y;
} AEGP_TwoDVal;

typedef struct {
    A_FpLong x, y, z;
} AEGP_ThreeDVal;

typedef struct {
    A_FpLong alphaF, redF, greenF, blueF;
} AEGP_ColorVal;

typedef union {
    A_FpLong four_d[4];
    AEGP_ThreeDVal three_d;
    AEGP_TwoDVal two_d;
    A_FpLong one_d;
    AEGP_ColorVal color;
    A_Handle arbH;
    AEGP_MarkerValP markerP;
    AEGP_LayerIDVal layer_id; // 0: no layer
    AEGP_MaskIDVal mask_id;
    AEGP_MaskOutlineValH mask;
    AEGP_TextDocumentH text_documentH;
} AEGP_StreamVal2;

typedef struct {
    AEGP_StreamRefH streamH;
    AEGP_StreamVal2 val;
} AEGP_StreamValue2;

// ---- Suites ----------------------------------------------------------------

typedef struct SPBasicSuite {
    SPErr (*AcquireSuite)(const char* name, int32 version, const void** suite);
    SPErr (*ReleaseSuite)(const char* name, int32 version);
    SPBoolean (*IsEqual)(const char* token1, const char* token2);
    SPErr (*AllocateBlock)(size_t size, void** block);
    SPErr (*FreeBlock)(void* block);
    SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newblock);
    SPErr (*Undefined)(void);
} SPBasicSuite;

typedef struct {
    PF_Err (*PF_NewWorld)(PF_ProgPtr effect_ref, A_long widthL, A_long heightL,
                          PF_Boolean clear_pixB, PF_PixelFormat pixel_format,
                          PF_EffectWorld* worldP);
    PF_Err (*PF_DisposeWorld)(PF_ProgPtr effect_ref, PF_EffectWorld* worldP);
    PF_Err (*PF_GetPixelFormat)(const PF_EffectWorld* worldP, PF_PixelFormat* pixel_formatP);
} PF_WorldSuite2;

// The host's thread pool for one frame. Only iterate_generic is called; the
// per-pixel iterators before it are never used here and stay opaque.
typedef struct {
    void* iterate;
    void* iterate_origin;
    void* iterate_lut;
    void* iterate_origin_non_clip_src;
    PF_Err (*iterate_generic)(A_long iterationsL, void* refconPV,
                              PF_Err (*fn_func)(void* refconPV, A_long thread_indexL, A_long i,
                                                A_long iterationsL));
} PF_Iterate8Suite2;

typedef struct {
    A_Err (*AEGP_ReportInfo)(AEGP_PluginID aegp_plugin_id, const A_char* info_stringZ);
    A_Err (*AEGP_ReportInfoUnicode)(AEGP_PluginID aegp_plugin_id, const A_UTF16Char* info_stringP);
    A_Err (*AEGP_GetDriverPluginInitFuncVersion)(A_short* major_versionPS,
                                                 A_short* minor_versionPS);
    A_Err (*AEGP_GetDriverImplementationVersion)(A_short* major_versionPS,
                                                 A_short* minor_versionPS);
    A_Err (*AEGP_StartQuietErrors)(AEGP_ErrReportState* err_stateP);
    A_Err (*AEGP_EndQuietErrors)(A_Boolean report_quieted_errorsB, AEGP_ErrReportState* err_stateP);
    A_Err (*AEGP_GetLastErrorMessage)(A_long buffer_size, A_char* error_string, A_Err* error_num);
    A_Err (*AEGP_StartUndoGroup)(const A_char* undo_nameZ);
    A_Err (*AEGP_EndUndoGroup)(void);
    A_Err (*AEGP_RegisterWithAEGP)(AEGP_GlobalRefcon global_refcon, const A_char* plugin_nameZ,
                                   AEGP_PluginID* plugin_id);
} AEGP_UtilitySuite6;

typedef struct {
    A_Err (*AEGP_GetEffectLayer)(PF_ProgPtr effect_pp_ref, AEGP_LayerH* layerPH);
    A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID aegp_plugin_id, PF_ProgPtr effect_pp_ref,
                                        AEGP_EffectRefH* effect_refPH);
    A_Err (*AEGP_ConvertEffectToCompTime)(PF_ProgPtr effect_pp_ref, A_long what_timeL,
                                          A_u_long time_scaleLu, A_Time* comp_timePT);
    A_Err (*AEGP_GetEffectCamera)(PF_ProgPtr effect_pp_ref, const A_Time* comp_timePT,
                                  void** camera_layerPH);
    A_Err (*AEGP_GetEffectCameraMatrix)(PF_ProgPtr effect_pp_ref, const A_Time* comp_timePT,
                                        void* camera_matrixP, A_FpLong* dst_to_planePF,
                                        A_short* plane_widthPL, A_short* plane_heightPL);
} AEGP_PFInterfaceSuite1;

typedef struct {
    A_Err (*AEGP_IsStreamLegal)(AEGP_LayerH layerH, AEGP_LayerStream which_stream,
                                A_Boolean* is_legalP);
    A_Err (*AEGP_CanVaryOverTime)(AEGP_StreamRefH streamH, A_Boolean* can_varyPB);
    A_Err (*AEGP_GetValidInterpolations)(AEGP_StreamRefH streamH,
                                         AEGP_KeyInterpolationMask* valid_interpP);
    A_Err (*AEGP_GetNewLayerStream)(AEGP_PluginID aegp_plugin_id, AEGP_LayerH layerH,
                                    AEGP_LayerStream which_stream, AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_GetEffectNumParamStreams)(AEGP_EffectRefH effect_refH, A_long* num_paramsPL);
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID aegp_plugin_id,
                                            AEGP_EffectRefH effect_refH, PF_ParamIndex param_index,
                                            AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_GetNewMaskStream)(AEGP_PluginID aegp_plugin_id, AEGP_MaskRefH mask_refH,
                                   AEGP_MaskStream which_stream, AEGP_StreamRefH* mask_streamPH);
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
    A_Err (*AEGP_GetStreamName)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                A_Boolean force_englishB, AEGP_MemHandle* utf_stream_namePH);
    A_Err (*AEGP_GetStreamUnitsText)(AEGP_StreamRefH streamH, A_Boolean force_englishB,
                                     A_char* unitsZ);
    A_Err (*AEGP_GetStreamProperties)(AEGP_StreamRefH streamH, AEGP_StreamFlags* flagsP,
                                      A_FpLong* minP0, A_FpLong* maxP0);
    A_Err (*AEGP_IsStreamTimevarying)(AEGP_StreamRefH streamH, A_Boolean* is_timevaryPB);
    A_Err (*AEGP_GetStreamType)(AEGP_StreamRefH streamH, AEGP_StreamType* stream_typeP);
    A_Err (*AEGP_GetNewStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                    AEGP_LTimeMode time_mode, const A_Time* timePT,
                                    A_Boolean pre_expressionB, AEGP_StreamValue2* valueP);
    A_Err (*AEGP_DisposeStreamValue)(AEGP_StreamValue2* valueP);
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                 AEGP_StreamValue2* valueP);
} AEGP_StreamSuite6;

typedef struct {
    A_Err (*AEGP_GetLayerNumEffects)(AEGP_LayerH layerH, A_long* num_effectsPL);
    A_Err (*AEGP_GetLayerEffectByIndex)(AEGP_PluginID aegp_plugin_id, AEGP_LayerH layerH,
                                        AEGP_EffectIndex layer_effect_index,
                                        AEGP_EffectRefH* effectPH);
    A_Err (*AEGP_GetInstalledKeyFromLayerEffect)(AEGP_EffectRefH effect_refH,
                                                 AEGP_InstalledEffectKey* installed_keyP);
    A_Err (*AEGP_GetEffectParamUnionByIndex)(AEGP_PluginID aegp_plugin_id, AEGP_EffectRefH effectH,
                                             PF_ParamIndex param_index, PF_ParamType* param_typeP,
                                             PF_ParamDefUnion* uP0);
    A_Err (*AEGP_GetEffectFlags)(AEGP_EffectRefH effect_refH, AEGP_EffectFlags* effect_flagsP);
    A_Err (*AEGP_SetEffectFlags)(AEGP_EffectRefH effect_refH, AEGP_EffectFlags mask,
                                 AEGP_EffectFlags effect_flags);
    A_Err (*AEGP_ReorderEffect)(AEGP_EffectRefH effect_refH, A_long effect_indexL);
    A_Err (*AEGP_EffectCallGeneric)(AEGP_PluginID aegp_plugin_id, AEGP_EffectRefH effectH,
                                    const A_Time* timePT, PF_Cmd effect_cmd, void* effect_extraPV);
    A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effect_refH);
} AEGP_EffectSuite5;

typedef struct {
    A_Err (*AEGP_GetNewStreamRefForLayer)(AEGP_PluginID aegp_plugin_id, AEGP_LayerH layerH,
                                          AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_GetNewStreamRefForMask)(AEGP_PluginID aegp_plugin_id, AEGP_MaskRefH maskH,
                                         AEGP_StreamRefH* streamPH);
    A_Err (*AEGP_GetStreamDepth)(AEGP_StreamRefH streamH, A_long* depthPL);
    A_Err (*AEGP_GetStreamGroupingType)(AEGP_StreamRefH streamH,
                                        AEGP_StreamGroupingType* group_typeP);
    A_Err (*AEGP_GetNumStreamsInGroup)(AEGP_StreamRefH streamH, A_long* num_streamsPL);
    A_Err (*AEGP_GetDynamicStreamFlags)(AEGP_StreamRefH streamH,
                                        AEGP_DynStreamFlags* stream_flagsP);
    A_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag,
                                       A_Boolean undoableB, A_Boolean setB);
} AEGP_DynamicStreamSuite4;

} // extern "C"

#pragma pack(pop)

#endif // POINTILLO_USE_VENDOR_SDK

// ---- Layout checks ---------------------------------------------------------
// The figures of the Windows x86-64 ABI. They hold on Linux x86-64 too, since
// no type above depends on the width of `long`. Hosts are 64-bit only; a
// 32-bit build (the WebAssembly replay player) uses these declarations as
// plain values and has no host layout to match.

#include <cstddef>

static_assert(sizeof(A_long) == 4 && sizeof(A_u_long) == 4 && sizeof(A_short) == 2);
#if !defined(__EMSCRIPTEN__)
static_assert(sizeof(PF_Boolean) == 1 && sizeof(A_Boolean) == 1 && sizeof(void*) == 8);
static_assert(sizeof(AEGP_LTimeMode) == 2 && sizeof(SPBoolean) == 4);

static_assert(sizeof(A_Time) == 8 && sizeof(PF_Pixel) == 4 && sizeof(PF_Pixel16) == 8);
static_assert(sizeof(PF_PixelFloat) == 16 && sizeof(PF_LRect) == 16);
static_assert(sizeof(PF_RationalScale) == 8 && sizeof(PF_Point) == 8);
static_assert(sizeof(PF_SpecVersion) == 4);
static_assert(sizeof(PF_SoundFormatInfo) == 16 && alignof(PF_SoundFormatInfo) == 8);
static_assert(sizeof(PF_SoundWorld) == 32 && offsetof(PF_SoundWorld, dataP) == 24);

static_assert(sizeof(PF_LayerDef) == 120 && alignof(PF_LayerDef) == 8);
static_assert(offsetof(PF_LayerDef, world_flags) == 16 && offsetof(PF_LayerDef, data) == 24);
static_assert(offsetof(PF_LayerDef, rowbytes) == 32 && offsetof(PF_LayerDef, width) == 36);
static_assert(offsetof(PF_LayerDef, height) == 40 && offsetof(PF_LayerDef, extent_hint) == 44);
static_assert(offsetof(PF_LayerDef, platform_ref) == 64);
static_assert(offsetof(PF_LayerDef, reserved_long1) == 72);
static_assert(offsetof(PF_LayerDef, reserved_long4) == 80);
static_assert(offsetof(PF_LayerDef, pix_aspect_ratio) == 88);
static_assert(offsetof(PF_LayerDef, reserved_long2) == 96);
static_assert(offsetof(PF_LayerDef, origin_x) == 104 && offsetof(PF_LayerDef, origin_y) == 108);
static_assert(offsetof(PF_LayerDef, reserved_long3) == 112);
static_assert(offsetof(PF_LayerDef, dephault) == 116);

static_assert(sizeof(PF_InteractCallbacks) == 176 && alignof(PF_InteractCallbacks) == 8);
static_assert(offsetof(PF_InteractCallbacks, checkin_param) == 8);
static_assert(offsetof(PF_InteractCallbacks, add_param) == 16);
static_assert(offsetof(PF_InteractCallbacks, abort) == 24);
static_assert(offsetof(PF_InteractCallbacks, get_audio_data) == 64);

static_assert(sizeof(PF_InData) == 408 && alignof(PF_InData) == 8);
static_assert(offsetof(PF_InData, utils) == 176 && offsetof(PF_InData, effect_ref) == 184);
static_assert(offsetof(PF_InData, quality) == 192 && offsetof(PF_InData, version) == 196);
static_assert(offsetof(PF_InData, serial_num) == 200 && offsetof(PF_InData, num_params) == 208);
static_assert(offsetof(PF_InData, current_time) == 224 && offsetof(PF_InData, time_step) == 228);
static_assert(offsetof(PF_InData, total_time) == 232 && offsetof(PF_InData, time_scale) == 240);
static_assert(offsetof(PF_InData, field) == 244 && offsetof(PF_InData, shutter_angle) == 248);
static_assert(offsetof(PF_InData, width) == 252 && offsetof(PF_InData, height) == 256);
static_assert(offsetof(PF_InData, extent_hint) == 260);
static_assert(offsetof(PF_InData, output_origin_x) == 276);
static_assert(offsetof(PF_InData, downsample_x) == 284);
static_assert(offsetof(PF_InData, downsample_y) == 292);
static_assert(offsetof(PF_InData, pixel_aspect_ratio) == 300);
static_assert(offsetof(PF_InData, in_flags) == 308 && offsetof(PF_InData, global_data) == 312);
static_assert(offsetof(PF_InData, sequence_data) == 320);
static_assert(offsetof(PF_InData, frame_data) == 328 && offsetof(PF_InData, start_sampL) == 336);
static_assert(offsetof(PF_InData, total_sampL) == 344 && offsetof(PF_InData, src_snd) == 352);
static_assert(offsetof(PF_InData, pica_basicP) == 384);
static_assert(offsetof(PF_InData, pre_effect_source_origin_x) == 392);
static_assert(offsetof(PF_InData, shutter_phase) == 400);

static_assert(sizeof(PF_OutData) == 408 && alignof(PF_OutData) == 8);
static_assert(offsetof(PF_OutData, name) == 4 && offsetof(PF_OutData, global_data) == 40);
static_assert(offsetof(PF_OutData, num_params) == 48);
static_assert(offsetof(PF_OutData, sequence_data) == 56);
static_assert(offsetof(PF_OutData, flat_sdata_size) == 64);
static_assert(offsetof(PF_OutData, frame_data) == 72 && offsetof(PF_OutData, width) == 80);
static_assert(offsetof(PF_OutData, origin) == 88 && offsetof(PF_OutData, out_flags) == 96);
static_assert(offsetof(PF_OutData, return_msg) == 100 && sizeof(PF_OutData::return_msg) == 256);
static_assert(offsetof(PF_OutData, start_sampL) == 356);
static_assert(offsetof(PF_OutData, dest_snd) == 368);
static_assert(offsetof(PF_OutData, out_flags2) == 400);

static_assert(sizeof(PF_ParamDef) == 176 && alignof(PF_ParamDef) == 8);
static_assert(offsetof(PF_ParamDef, ui_flags) == 4 && offsetof(PF_ParamDef, ui_width) == 8);
static_assert(offsetof(PF_ParamDef, ui_height) == 10);
static_assert(offsetof(PF_ParamDef, param_type) == 12 && offsetof(PF_ParamDef, name) == 16);
static_assert(sizeof(PF_ParamDef::name) == 32);
static_assert(offsetof(PF_ParamDef, flags) == 48 && offsetof(PF_ParamDef, u) == 56);
static_assert(sizeof(PF_ParamDefUnion) == 120 && alignof(PF_ParamDefUnion) == 8);

static_assert(sizeof(PF_FloatSliderDef) == 88 && alignof(PF_FloatSliderDef) == 8);
static_assert(offsetof(PF_FloatSliderDef, phase) == 8);
static_assert(offsetof(PF_FloatSliderDef, value_desc) == 16);
static_assert(offsetof(PF_FloatSliderDef, valid_min) == 48);
static_assert(offsetof(PF_FloatSliderDef, valid_max) == 52);
static_assert(offsetof(PF_FloatSliderDef, slider_min) == 56);
static_assert(offsetof(PF_FloatSliderDef, slider_max) == 60);
static_assert(offsetof(PF_FloatSliderDef, dephault) == 64);
static_assert(offsetof(PF_FloatSliderDef, precision) == 68);
static_assert(offsetof(PF_FloatSliderDef, display_flags) == 70);
static_assert(offsetof(PF_FloatSliderDef, fs_flags) == 72);
static_assert(offsetof(PF_FloatSliderDef, curve_tolerance) == 76);
static_assert(offsetof(PF_FloatSliderDef, useExponent) == 80);
static_assert(offsetof(PF_FloatSliderDef, exponent) == 84);

static_assert(sizeof(PF_PopupDef) == 16 && offsetof(PF_PopupDef, num_choices) == 4);
static_assert(offsetof(PF_PopupDef, dephault) == 6 && offsetof(PF_PopupDef, u) == 8);
static_assert(sizeof(PF_CheckBoxDef) == 16 && offsetof(PF_CheckBoxDef, dephault) == 4);
static_assert(offsetof(PF_CheckBoxDef, reserved1) == 6 && offsetof(PF_CheckBoxDef, u) == 8);
static_assert(sizeof(PF_ColorDef) == 8 && alignof(PF_ColorDef) == 1);
static_assert(offsetof(PF_ColorDef, dephault) == 4);
static_assert(sizeof(PF_ButtonDef) == 16 && offsetof(PF_ButtonDef, u) == 8);
static_assert(sizeof(PF_SliderDef) == 88 && sizeof(PF_FixedSliderDef) == 92);
static_assert(sizeof(PF_AngleDef) == 16 && sizeof(PF_PointDef) == 20);
static_assert(sizeof(PF_ArbitraryDef) == 32 && sizeof(PF_PathDef) == 12);
static_assert(sizeof(PF_Point3DDef) == 64);

static_assert(sizeof(PF_RenderRequest) == 44 && alignof(PF_RenderRequest) == 4);
static_assert(offsetof(PF_RenderRequest, field) == 16);
static_assert(offsetof(PF_RenderRequest, channel_mask) == 20);
static_assert(offsetof(PF_RenderRequest, preserve_rgb_of_zero_alpha) == 24);
static_assert(offsetof(PF_RenderRequest, reserved) == 28);
static_assert(sizeof(PF_CheckoutResult) == 76 && alignof(PF_CheckoutResult) == 4);
static_assert(offsetof(PF_CheckoutResult, max_result_rect) == 16);
static_assert(offsetof(PF_CheckoutResult, par) == 32 && offsetof(PF_CheckoutResult, solid) == 40);
static_assert(offsetof(PF_CheckoutResult, ref_width) == 44);
static_assert(offsetof(PF_CheckoutResult, ref_height) == 48);
static_assert(offsetof(PF_CheckoutResult, reserved) == 52);

static_assert(sizeof(PF_PreRenderExtra) == 24 && offsetof(PF_PreRenderExtra, cb) == 16);
static_assert(sizeof(PF_PreRenderInput) == 64 && offsetof(PF_PreRenderInput, bitdepth) == 44);
static_assert(offsetof(PF_PreRenderInput, gpu_data) == 48);
static_assert(offsetof(PF_PreRenderInput, what_gpu) == 56);
static_assert(offsetof(PF_PreRenderInput, device_index) == 60);
static_assert(sizeof(PF_PreRenderOutput) == 56);
static_assert(offsetof(PF_PreRenderOutput, solid) == 32);
static_assert(offsetof(PF_PreRenderOutput, flags) == 34);
static_assert(offsetof(PF_PreRenderOutput, pre_render_data) == 40);
static_assert(offsetof(PF_PreRenderOutput, delete_pre_render_data_func) == 48);
static_assert(sizeof(PF_PreRenderCallbacks) == 16);

static_assert(sizeof(PF_SmartRenderExtra) == 16 && offsetof(PF_SmartRenderExtra, cb) == 8);
static_assert(sizeof(PF_SmartRenderInput) == 72);
static_assert(offsetof(PF_SmartRenderInput, bitdepth) == 44);
static_assert(offsetof(PF_SmartRenderInput, pre_render_data) == 48);
static_assert(offsetof(PF_SmartRenderInput, gpu_data) == 56);
static_assert(offsetof(PF_SmartRenderInput, what_gpu) == 64);
static_assert(offsetof(PF_SmartRenderInput, device_index) == 68);
static_assert(sizeof(PF_SmartRenderCallbacks) == 24);

static_assert(sizeof(AEGP_StreamVal2) == 32 && alignof(AEGP_StreamVal2) == 8);
static_assert(sizeof(AEGP_StreamValue2) == 40 && offsetof(AEGP_StreamValue2, val) == 8);

static_assert(sizeof(SPBasicSuite) == 56);
static_assert(sizeof(PF_WorldSuite2) == 24);
static_assert(sizeof(PF_Iterate8Suite2) == 40);
static_assert(offsetof(PF_Iterate8Suite2, iterate_generic) == 4 * 8);
static_assert(offsetof(AEGP_UtilitySuite6, AEGP_RegisterWithAEGP) == 9 * 8);
static_assert(offsetof(AEGP_PFInterfaceSuite1, AEGP_GetNewEffectForEffect) == 1 * 8);
static_assert(sizeof(AEGP_PFInterfaceSuite1) == 40);
static_assert(offsetof(AEGP_StreamSuite6, AEGP_GetNewEffectStreamByIndex) == 5 * 8);
static_assert(offsetof(AEGP_StreamSuite6, AEGP_DisposeStream) == 7 * 8);
static_assert(offsetof(AEGP_StreamSuite6, AEGP_GetNewStreamValue) == 13 * 8);
static_assert(offsetof(AEGP_StreamSuite6, AEGP_DisposeStreamValue) == 14 * 8);
static_assert(offsetof(AEGP_StreamSuite6, AEGP_SetStreamValue) == 15 * 8);
static_assert(offsetof(AEGP_EffectSuite5, AEGP_DisposeEffect) == 8 * 8);
static_assert(offsetof(AEGP_DynamicStreamSuite4, AEGP_GetDynamicStreamFlags) == 5 * 8);
static_assert(offsetof(AEGP_DynamicStreamSuite4, AEGP_SetDynamicStreamFlag) == 6 * 8);

#endif // !defined(__EMSCRIPTEN__)
static_assert(PF_VERSION(1, 1, 1, PF_Stage_BETA, 1) == 0x00088C01);
