# Where `cmake --install` puts each piece, relative to the prefix unless
# absolute. The Debian package and the Windows installer take whatever the
# build installs, so a host's install rules use these folders and nothing
# else is needed for it to ship.
if(WIN32)
    # The installer moves each of these folders to where its hosts look: the
    # plug-in folder the user picks (the shared one by default), and the
    # OpenFX folder under Common Files. Everything else goes into the program
    # folder beside the uninstaller.
    set(POINTILLO_PLUGIN_INSTALL_DIR "Plug-ins")
    set(POINTILLO_OFX_INSTALL_DIR "OFX/Plugins" CACHE STRING
        "Install folder of the OpenFX bundle, relative to the prefix")
else()
    # The renderer loads the module from its own folder, so both go here;
    # bin/ holds a link to the renderer, and the folder the renderer sees
    # through /proc/self/exe is the link's target's.
    set(POINTILLO_PROGRAM_INSTALL_DIR "lib/pointillo")
    # OpenFX hosts search this folder whatever the prefix.
    set(POINTILLO_OFX_INSTALL_DIR "/usr/OFX/Plugins" CACHE STRING
        "Install folder of the OpenFX bundle (absolute: hosts search it whatever the prefix)")
endif()
