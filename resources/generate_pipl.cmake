# Turns the registration description into the PiPL resource bytes and the
# files built from them. Run as a script:
#   cmake -DDESCRIPTION=<pipl.cmake> -DOUTPUT_DIR=<dir> -P generate_pipl.cmake
# Writes <dir>/pipl.rc, <dir>/pointillo/pipl_bytes.h, <dir>/pointillo/registration.h.
#
# Resource layout, integers little-endian:
#   u16 reserved (1), u32 version (0), u32 property count, then the properties.
# Each property: vendor code, key, u32 id (0), u32 data length, data, zero fill
# to a multiple of 4. Four-character codes are stored byte-reversed ("8BIM" as
# "MIB8"). Counted strings (length byte, characters, no terminator) count their
# own zero fill in the data length; so does the zero-terminated entry point.

cmake_minimum_required(VERSION 3.25)

if(NOT DESCRIPTION OR NOT OUTPUT_DIR)
    message(FATAL_ERROR "generate_pipl.cmake needs -DDESCRIPTION=... and -DOUTPUT_DIR=...")
endif()
include(${DESCRIPTION})

# Strings end up inside C++ and resource-script literals and in a byte-counted
# field: keep them to printable ASCII without quotes or backslashes.
function(check_text name value max_length)
    string(LENGTH "${value}" length)
    if(length EQUAL 0 OR length GREATER max_length)
        message(FATAL_ERROR "${name} must have 1 to ${max_length} characters: '${value}'")
    endif()
    if(NOT value MATCHES "^[ -~]+$" OR value MATCHES "[\"\\\\]")
        message(FATAL_ERROR "${name} holds a character we do not embed: '${value}'")
    endif()
endfunction()

check_text(POINTILLO_EFFECT_NAME "${POINTILLO_EFFECT_NAME}" 31)
check_text(POINTILLO_MATCH_NAME "${POINTILLO_MATCH_NAME}" 31)
check_text(POINTILLO_CATEGORY "${POINTILLO_CATEGORY}" 31)
check_text(POINTILLO_ENTRY_POINT "${POINTILLO_ENTRY_POINT}" 31)
check_text(POINTILLO_SUPPORT_URL "${POINTILLO_SUPPORT_URL}" 254)
check_text(POINTILLO_KIND "${POINTILLO_KIND}" 4)

# ---- byte helpers (lists of decimal byte values) ----

function(append_le out value count)
    set(bytes ${${out}})
    math(EXPR last "${count} - 1")
    foreach(i RANGE 0 ${last})
        math(EXPR byte "((${value}) >> (8 * ${i})) & 0xFF")
        list(APPEND bytes ${byte})
    endforeach()
    set(${out} ${bytes} PARENT_SCOPE)
endfunction()

function(text_bytes out text)
    string(HEX "${text}" hex)
    string(LENGTH "${hex}" hex_length)
    set(bytes "")
    if(hex_length GREATER 0)
        math(EXPR last "${hex_length} - 2")
        foreach(i RANGE 0 ${last} 2)
            string(SUBSTRING "${hex}" ${i} 2 pair)
            math(EXPR byte "0x${pair}")
            list(APPEND bytes ${byte})
        endforeach()
    endif()
    set(${out} ${bytes} PARENT_SCOPE)
endfunction()

function(pad_to_4 out)
    set(bytes ${${out}})
    list(LENGTH bytes length)
    math(EXPR fill "(4 - ${length} % 4) % 4")
    while(fill GREATER 0)
        list(APPEND bytes 0)
        math(EXPR fill "${fill} - 1")
    endwhile()
    set(${out} ${bytes} PARENT_SCOPE)
endfunction()

# A four-character code, stored byte-reversed.
function(code_bytes out code)
    string(LENGTH "${code}" length)
    if(NOT length EQUAL 4)
        message(FATAL_ERROR "not a four-character code: '${code}'")
    endif()
    text_bytes(forward "${code}")
    list(REVERSE forward)
    set(${out} ${forward} PARENT_SCOPE)
endfunction()

# The four-character code as the 32-bit number the registration call passes.
function(code_value out code)
    text_bytes(b "${code}")
    list(GET b 0 b0)
    list(GET b 1 b1)
    list(GET b 2 b2)
    list(GET b 3 b3)
    math(EXPR v "(${b0} << 24) | (${b1} << 16) | (${b2} << 8) | ${b3}" OUTPUT_FORMAT HEXADECIMAL)
    set(${out} ${v} PARENT_SCOPE)
endfunction()

function(counted_string out text)
    string(LENGTH "${text}" length)
    set(bytes ${length})
    text_bytes(chars "${text}")
    list(APPEND bytes ${chars})
    pad_to_4(bytes)
    set(${out} ${bytes} PARENT_SCOPE)
endfunction()

function(terminated_string out text)
    text_bytes(bytes "${text}")
    list(APPEND bytes 0)
    pad_to_4(bytes)
    set(${out} ${bytes} PARENT_SCOPE)
endfunction()

set(properties "")
set(property_count 0)

# Appends one property; `data` is a list variable name, `length` the data
# length to record (the list may be longer only by the zero fill).
macro(add_property key data length)
    code_bytes(vendor_code "8BIM")
    code_bytes(key_code "${key}")
    list(APPEND properties ${vendor_code} ${key_code})
    append_le(properties 0 4)
    append_le(properties ${length} 4)
    set(fill_data ${${data}})
    pad_to_4(fill_data)
    list(APPEND properties ${fill_data})
    math(EXPR property_count "${property_count} + 1")
endmacro()

math(EXPR version_word
    "((${POINTILLO_VERSION_MAJOR} >> 3) & 0xF) << 26 | (${POINTILLO_VERSION_MAJOR} & 0x7) << 19 | (${POINTILLO_VERSION_MINOR} & 0xF) << 15 | (${POINTILLO_VERSION_FIX} & 0xF) << 11 | (${POINTILLO_VERSION_STAGE} & 0x3) << 9 | (${POINTILLO_VERSION_BUILD} & 0x1FF)"
    OUTPUT_FORMAT HEXADECIMAL)

code_bytes(d "${POINTILLO_KIND}")
add_property(kind d 4)

counted_string(d "${POINTILLO_EFFECT_NAME}")
list(LENGTH d n)
add_property(name d ${n})

counted_string(d "${POINTILLO_CATEGORY}")
list(LENGTH d n)
add_property(catg d ${n})

terminated_string(d "${POINTILLO_ENTRY_POINT}")
list(LENGTH d n)
add_property(8664 d ${n})

set(d "")
append_le(d ${POINTILLO_PIPL_VERSION_MAJOR} 2)
append_le(d ${POINTILLO_PIPL_VERSION_MINOR} 2)
add_property(ePVR d 4)

set(d "")
append_le(d ${POINTILLO_API_MAJOR} 2)
append_le(d ${POINTILLO_API_MINOR} 2)
add_property(eSVR d 4)

set(d "")
append_le(d ${version_word} 4)
add_property(eVER d 4)

set(d "")
append_le(d ${POINTILLO_INFO_FLAGS} 2)
add_property(eINF d 2)

set(d "")
append_le(d ${POINTILLO_OUT_FLAGS} 4)
add_property(eGLO d 4)

set(d "")
append_le(d ${POINTILLO_OUT_FLAGS2} 4)
add_property(eGL2 d 4)

counted_string(d "${POINTILLO_MATCH_NAME}")
list(LENGTH d n)
add_property(eMNA d ${n})

set(d "")
append_le(d ${POINTILLO_PIPL_RESERVED_INFO} 4)
add_property(aeFL d 4)

counted_string(d "${POINTILLO_SUPPORT_URL}")
list(LENGTH d n)
add_property(eURL d ${n})

set(bytes "")
append_le(bytes 1 2)
append_le(bytes 0 4)
append_le(bytes ${property_count} 4)
list(APPEND bytes ${properties})
list(LENGTH bytes byte_count)
math(EXPR odd "${byte_count} % 2")
if(odd)
    message(FATAL_ERROR "resource length ${byte_count} is not a whole number of 16-bit words")
endif()

# ---- pipl.rc: the bytes as 16-bit words (low byte first) ----

math(EXPR language_primary "${POINTILLO_PIPL_LANGUAGE} & 0x3FF")
math(EXPR language_sub "${POINTILLO_PIPL_LANGUAGE} >> 10")
set(rc "// Generated by resources/generate_pipl.cmake from resources/pipl.cmake; do not edit.\n")
string(APPEND rc "LANGUAGE ${language_primary}, ${language_sub}\n")
string(APPEND rc "${POINTILLO_PIPL_RESOURCE_ID} PiPL\nBEGIN\n")
math(EXPR last "${byte_count} - 2")
set(line "   ")
set(on_line 0)
foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET bytes ${i} lo)
    list(GET bytes ${j} hi)
    math(EXPR word "(${hi} << 8) | ${lo}" OUTPUT_FORMAT HEXADECIMAL)
    if(i EQUAL last)
        string(APPEND line " ${word}")
    else()
        string(APPEND line " ${word},")
    endif()
    math(EXPR on_line "${on_line} + 1")
    if(on_line EQUAL 8)
        string(APPEND rc "${line}\n")
        set(line "   ")
        set(on_line 0)
    endif()
endforeach()
if(on_line GREATER 0)
    string(APPEND rc "${line}\n")
endif()
string(APPEND rc "END\n")
file(WRITE ${OUTPUT_DIR}/pipl.rc "${rc}")

# ---- pipl_bytes.h ----

set(h "// Generated by resources/generate_pipl.cmake from resources/pipl.cmake; do not edit.\n")
string(APPEND h "#pragma once\n\nnamespace pointillo {\n\n")
string(APPEND h "// The PiPL resource exactly as the Windows module embeds it.\n")
string(APPEND h "inline constexpr unsigned char kPiplBytes[${byte_count}] = {\n")
set(line "   ")
set(on_line 0)
foreach(b IN LISTS bytes)
    math(EXPR hex "${b}" OUTPUT_FORMAT HEXADECIMAL)
    string(APPEND line " ${hex},")
    math(EXPR on_line "${on_line} + 1")
    if(on_line EQUAL 12)
        string(APPEND h "${line}\n")
        set(line "   ")
        set(on_line 0)
    endif()
endforeach()
if(on_line GREATER 0)
    string(APPEND h "${line}\n")
endif()
string(APPEND h "};\n")
string(APPEND h "inline constexpr int kPiplResourceId = ${POINTILLO_PIPL_RESOURCE_ID};\n")
string(APPEND h "inline constexpr int kPiplLanguage = ${POINTILLO_PIPL_LANGUAGE};\n")
string(APPEND h "\n} // namespace pointillo\n")
file(WRITE ${OUTPUT_DIR}/pointillo/pipl_bytes.h "${h}")

# ---- registration.h ----

code_value(kind_value "${POINTILLO_KIND}")
set(h "// Generated by resources/generate_pipl.cmake from resources/pipl.cmake; do not edit.\n")
string(APPEND h "#pragma once\n\n#include <cstdint>\n\nnamespace pointillo::registration {\n\n")
string(APPEND h "inline constexpr char kEffectName[] = \"${POINTILLO_EFFECT_NAME}\";\n")
string(APPEND h "inline constexpr char kMatchName[] = \"${POINTILLO_MATCH_NAME}\";\n")
string(APPEND h "inline constexpr char kCategory[] = \"${POINTILLO_CATEGORY}\";\n")
string(APPEND h "inline constexpr char kEntryPoint[] = \"${POINTILLO_ENTRY_POINT}\";\n")
string(APPEND h "inline constexpr char kSupportUrl[] = \"${POINTILLO_SUPPORT_URL}\";\n")
string(APPEND h "inline constexpr char kRelease[] = \"${POINTILLO_RELEASE}\";\n")
string(APPEND h "inline constexpr int32_t kKind = ${kind_value}; // '${POINTILLO_KIND}'\n")
string(APPEND h "inline constexpr int32_t kApiMajor = ${POINTILLO_API_MAJOR};\n")
string(APPEND h "inline constexpr int32_t kApiMinor = ${POINTILLO_API_MINOR};\n")
string(APPEND h "inline constexpr int32_t kReservedInfo = ${POINTILLO_REGISTRATION_RESERVED_INFO};\n")
string(APPEND h "inline constexpr int32_t kVersionMajor = ${POINTILLO_VERSION_MAJOR};\n")
string(APPEND h "inline constexpr int32_t kVersionMinor = ${POINTILLO_VERSION_MINOR};\n")
string(APPEND h "inline constexpr int32_t kVersionFix = ${POINTILLO_VERSION_FIX};\n")
string(APPEND h "inline constexpr int32_t kVersionStage = ${POINTILLO_VERSION_STAGE};\n")
string(APPEND h "inline constexpr int32_t kVersionBuild = ${POINTILLO_VERSION_BUILD};\n")
string(APPEND h "inline constexpr uint32_t kVersionWord = ${version_word}u;\n")
string(APPEND h "inline constexpr int32_t kOutFlags = ${POINTILLO_OUT_FLAGS};\n")
string(APPEND h "inline constexpr int32_t kOutFlags2 = ${POINTILLO_OUT_FLAGS2};\n")
string(APPEND h "\n} // namespace pointillo::registration\n")
file(WRITE ${OUTPUT_DIR}/pointillo/registration.h "${h}")
