# Where `cmake --install` puts the pieces that are no single host's, relative
# to the prefix. The Debian package and the Windows installer take whatever
# the build installs: the installer moves the plug-in folder below to the one
# the user picks and `<prefix>/OFX/Plugins` to the OpenFX folder, and puts the
# rest into its program folder.
if(WIN32)
    set(POINTILLO_PLUGIN_INSTALL_DIR "Plug-ins")
else()
    # The renderer loads the module from its own folder, so both go here;
    # bin/ holds a link to the renderer, and the folder the renderer sees
    # through /proc/self/exe is the link's target's.
    set(POINTILLO_PROGRAM_INSTALL_DIR "lib/pointillo")
endif()
