# Settings shared by every target of the project.
option(ORVALIN_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

add_library(orvalin_settings INTERFACE)
target_compile_features(orvalin_settings INTERFACE cxx_std_17)
# MSVC reads sources in the local code page unless told otherwise, which would
# garble the Chinese texts in the code.
if(MSVC)
    target_compile_options(orvalin_settings INTERFACE /W3 /utf-8)
else()
    target_compile_options(orvalin_settings INTERFACE -Wall -Wextra)
endif()
# QT_MESSAGELOGCONTEXT: release builds too record where each message comes
# from, so the log pattern's %{file} and %{line} are filled in.
target_compile_definitions(orvalin_settings INTERFACE
    QT_MESSAGELOGCONTEXT
    QT_DISABLE_DEPRECATED_UP_TO=0x060000
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_CAST_TO_ASCII
    QT_USE_QSTRINGBUILDER
    ORVALIN_APP_ID="${ORVALIN_APP_ID}")

if(ORVALIN_SANITIZE)
    target_compile_options(orvalin_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(orvalin_settings INTERFACE -fsanitize=address,undefined)
endif()

# libFuzzer targets under fuzz/ (clang only); everything they link is built
# with the same sanitizers and the fuzzer's coverage instrumentation.
option(ORVALIN_FUZZ "Build only the core library and the libFuzzer targets" OFF)
if(ORVALIN_FUZZ)
    target_compile_options(orvalin_settings INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g)
    target_link_options(orvalin_settings INTERFACE -fsanitize=address,undefined)
endif()
