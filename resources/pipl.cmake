# The effect's registration, in one place. The build turns it into the PiPL
# resource of the Windows module (pipl.rc), the same bytes as a C++ array for
# the tests (pipl_bytes.h), and the constants the module passes when it
# registers and answers global set-up (registration.h).
# See generate_pipl.cmake for the byte layout.

set(POINTILLO_EFFECT_NAME "Pointillo")
set(POINTILLO_MATCH_NAME "Brindlex Pointillo")
set(POINTILLO_CATEGORY "Brindlex")
set(POINTILLO_ENTRY_POINT "EffectMain")
set(POINTILLO_SUPPORT_URL "https://brindlex.example/pointillo/support")
set(POINTILLO_RELEASE "1.1") # as the about text names the release

# Plug-in kind: an effect.
set(POINTILLO_KIND "eFKT")

# Effect API version the module is written against.
set(POINTILLO_API_MAJOR 13)
set(POINTILLO_API_MINOR 29)

# Resource format version (AE_PiPL_Version).
set(POINTILLO_PIPL_VERSION_MAJOR 2)
set(POINTILLO_PIPL_VERSION_MINOR 0)

# The effect's own version: 1.1.1, beta (stage 2), build 1.
set(POINTILLO_VERSION_MAJOR 1)
set(POINTILLO_VERSION_MINOR 1)
set(POINTILLO_VERSION_FIX 1)
set(POINTILLO_VERSION_STAGE 2)
set(POINTILLO_VERSION_BUILD 1)

# Global output flags, written at global set-up and repeated in the resource.
set(POINTILLO_OUT_FLAGS 0x06000006)
set(POINTILLO_OUT_FLAGS2 0x08001488)
set(POINTILLO_INFO_FLAGS 0)

# Reserved info: the registration call passes 8, the resource carries 0.
set(POINTILLO_REGISTRATION_RESERVED_INFO 8)
set(POINTILLO_PIPL_RESERVED_INFO 0)

# Resource id and language (1033: English, United States).
set(POINTILLO_PIPL_RESOURCE_ID 16000)
set(POINTILLO_PIPL_LANGUAGE 1033)
