# Lays out Salvix.app under STAGE (run with cmake -P at build time).
set(app ${STAGE}/Salvix.app)
file(REMOVE_RECURSE ${app})
file(MAKE_DIRECTORY ${app}/Contents/MacOS ${app}/Contents/Frameworks ${app}/Contents/Resources/image)

file(COPY ${INFO_PLIST} DESTINATION ${app}/Contents)
file(COPY ${EXECUTABLE} DESTINATION ${app}/Contents/MacOS
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(COPY ${FFMPEG_WRAPPER} DESTINATION ${app}/Contents/MacOS
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(COPY ${VIDEOS} DESTINATION ${app}/Contents/Resources/image
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

string(REPLACE "|" ";" LIBS "${LIBS}")
string(REPLACE "|" ";" SONAMES "${SONAMES}")
string(REPLACE "|" ";" LINKNAMES "${LINKNAMES}")

# Each library as its real file, with its version links: soname -> file, linker name -> soname.
foreach(lib soname linkname IN ZIP_LISTS LIBS SONAMES LINKNAMES)
    get_filename_component(real ${lib} NAME)
    file(COPY ${lib} DESTINATION ${app}/Contents/Frameworks
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    # Shipped without debug information, as a release bundle would be.
    if(STRIP)
        execute_process(COMMAND ${STRIP} --strip-debug ${app}/Contents/Frameworks/${real} COMMAND_ERROR_IS_FATAL ANY)
    endif()
    if(soname AND NOT soname STREQUAL real)
        file(CREATE_LINK ${real} ${app}/Contents/Frameworks/${soname} SYMBOLIC)
    endif()
    if(linkname AND NOT linkname STREQUAL soname AND NOT linkname STREQUAL real)
        file(CREATE_LINK ${soname} ${app}/Contents/Frameworks/${linkname} SYMBOLIC)
    endif()
endforeach()
