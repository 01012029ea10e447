# Delay-load import libraries for the system libraries that are not KnownDLLs.
#
# The loader resolves a static import that is not a KnownDLL from the executable's own folder first, before the
# entry point (or any hardening in it) runs: a file of that name saved beside the installer would run as
# administrator. Such libraries are therefore imported through delay-load libraries, so the first call loads them
# through the start-up hook (app/Startup.cpp), which takes them from the system folder only.
#
# mingw-w64 ships no .def files: the names come from the regular import library's "__imp_" symbols. On i686 they
# keep their stdcall decoration ("_Foo@8" is exported as "Foo"): dlltool -k drops it from the imported name.
#
# tunivox_delay_import(NAME) defines the imported target delay::NAME.
set(TUNIVOX_MINGW_LIB_DIR "/usr/${TOOLCHAIN_PREFIX}/lib")
find_program(TUNIVOX_NM ${TOOLCHAIN_PREFIX}-nm REQUIRED)
find_program(TUNIVOX_DLLTOOL ${TOOLCHAIN_PREFIX}-dlltool REQUIRED)

function(tunivox_delay_import name)
    if(TARGET delay::${name})
        return()
    endif()
    set(dir "${CMAKE_BINARY_DIR}/delayimp")
    set(def "${dir}/${name}.def")
    set(lib "${dir}/lib${name}_delay.a")
    set(source "${TUNIVOX_MINGW_LIB_DIR}/lib${name}.a")
    if(NOT EXISTS "${lib}" OR "${source}" IS_NEWER_THAN "${lib}")
        file(MAKE_DIRECTORY "${dir}")
        execute_process(COMMAND ${TUNIVOX_NM} -g "${source}" OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
        # "00000000 I __imp__CertOpenStore@20" (i686) or "... I __imp_CertOpenStore" (x86_64).
        string(REGEX MATCHALL "__imp_[^\r\n]+" imports "${symbols}")
        set(names "")
        foreach(symbol IN LISTS imports)
            string(REGEX REPLACE "^__imp_" "" symbol "${symbol}")
            if(CMAKE_SIZEOF_VOID_P EQUAL 4)
                string(REGEX REPLACE "^_" "" symbol "${symbol}")
            endif()
            list(APPEND names "${symbol}")
        endforeach()
        list(REMOVE_DUPLICATES names)
        list(JOIN names "\n    " body)
        file(WRITE "${def}" "LIBRARY ${name}.dll\nEXPORTS\n    ${body}\n")
        execute_process(COMMAND ${TUNIVOX_DLLTOOL} -k --input-def "${def}" --dllname "${name}.dll"
                                --output-delaylib "${lib}" COMMAND_ERROR_IS_FATAL ANY)
    endif()
    add_library(delay::${name} STATIC IMPORTED GLOBAL)
    set_target_properties(delay::${name} PROPERTIES IMPORTED_LOCATION "${lib}")
endfunction()

# Every library the installer links that is not a KnownDLL on Windows 7 SP1 to 11.
set(TUNIVOX_DELAY_LOADED bcrypt crypt32 gdiplus msimg32 netapi32 oleacc secur32 urlmon winhttp winmm wtsapi32 wintrust)
foreach(name IN LISTS TUNIVOX_DELAY_LOADED)
    tunivox_delay_import(${name})
endforeach()

# GNU ld drops the stubs of delay-loaded functions that are reached through dllimport pointers only: every link
# goes through cmake/delay-link, which keeps them.
set_property(GLOBAL PROPERTY RULE_LAUNCH_LINK "${CMAKE_SOURCE_DIR}/cmake/delay-link")

# libcurl's own link interface names some of them: point it at the delay-load libraries as well.
get_target_property(curl_libs CURL::libcurl INTERFACE_LINK_LIBRARIES)
foreach(name IN LISTS TUNIVOX_DELAY_LOADED)
    string(REGEX REPLACE "(^|;|:)${name}(>|;|$)" "\\1delay::${name}\\2" curl_libs "${curl_libs}")
endforeach()
set_target_properties(CURL::libcurl PROPERTIES INTERFACE_LINK_LIBRARIES "${curl_libs}")
