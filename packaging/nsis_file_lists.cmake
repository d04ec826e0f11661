# Run by CPack once it has staged the Windows build, before makensis:
# writes pointillo_files.nsh beside the installer script, the commands that
# install each staged file and the ones that delete it again. A staged
# file's top folder says where it goes: the plug-in folder into $PluginDir
# (the one the user picks), the OpenFX folder into $OfxDir, anything else
# into the program folder ($INSTDIR).
cmake_policy(VERSION 3.25)
set(stage "${CPACK_TEMPORARY_DIRECTORY}")
set(roots "${CPACK_POINTILLO_PLUGIN_DIR}|$PluginDir" "OFX/Plugins|$OfxDir" "|$INSTDIR")

file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${stage}" "${stage}/*")
list(SORT files)
set(install "")
set(delete "")
foreach(root IN LISTS roots)
    string(REPLACE "|" ";" root "${root}")
    list(GET root 0 folder)
    list(GET root 1 target)
    string(APPEND install "!macro PointilloInstall${target}\n")
    string(APPEND delete "!macro PointilloDelete${target}\n")
    foreach(file IN LISTS files)
        if(folder STREQUAL "")
            set(relative "${file}")
        elseif(file MATCHES "^${folder}/(.*)$")
            set(relative "${CMAKE_MATCH_1}")
        else()
            continue()
        endif()
        list(REMOVE_ITEM files "${file}")
        get_filename_component(sub "${relative}" DIRECTORY)
        string(REPLACE "/" "\\" sub "${sub}")
        string(REPLACE "/" "\\" relative "${relative}")
        set(dir "${target}")
        if(sub)
            set(dir "${target}\\${sub}")
        endif()
        string(APPEND install "  !insertmacro MakeFolder \"${dir}\"\n"
            "  SetOutPath \"${dir}\"\n  File \"${stage}/${file}\"\n")
        string(APPEND delete "  Delete \"${target}\\${relative}\"\n")
    endforeach()
    string(APPEND install "!macroend\n")
    string(APPEND delete "!macroend\n")
endforeach()
# NSIS names cannot hold "$": the macros are named after the variable.
string(REPLACE "Install$" "Install" install "${install}")
string(REPLACE "Delete$" "Delete" delete "${delete}")
file(WRITE "${CPACK_TOPLEVEL_DIRECTORY}/pointillo_files.nsh" "${install}${delete}")
