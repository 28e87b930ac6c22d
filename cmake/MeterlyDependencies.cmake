# Every dependency is a Debian package installed by scripts/install-deps.
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(nlohmann_json 3 REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
pkg_check_modules(PLIST REQUIRED IMPORTED_TARGET libplist-2.0)
pkg_check_modules(LIBARCHIVE REQUIRED IMPORTED_TARGET libarchive)
pkg_check_modules(SIMDJSON REQUIRED IMPORTED_TARGET simdjson)

# Standalone Asio is header-only.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
add_library(meterly_asio INTERFACE)
target_include_directories(meterly_asio SYSTEM INTERFACE ${ASIO_INCLUDE_DIR})
target_compile_definitions(meterly_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
# Each event-loop thread keeps this many freed coroutine frames and handler blocks for reuse
# (Asio's default is 2). A relayed exchange nests a handful of coroutines, so with two slots most
# frames went back to malloc on every request. Every target that includes Asio must agree on it.
target_compile_definitions(meterly_asio INTERFACE ASIO_RECYCLING_ALLOCATOR_CACHE_SIZE=8)
# Asio decides whether to use aligned_alloc from the standard headers included before its own; a
# file that includes Asio first would free with operator delete what the others took from
# aligned_alloc. Every target makes the same choice this way, whatever it includes first.
target_compile_definitions(meterly_asio INTERFACE ASIO_HAS_STD_ALIGNED_ALLOC=1)
target_link_libraries(meterly_asio INTERFACE Threads::Threads)
# Asio looks for <experimental/coroutine> under clang, which libstdc++ does not have; clang 14 and
# later support the standard <coroutine> that Asio uses with g++.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    target_compile_definitions(meterly_asio INTERFACE ASIO_HAS_CO_AWAIT=1 ASIO_HAS_STD_COROUTINE=1)
endif()
# Optimised (and ThreadSanitizer) builds make g++ 12's flow analysis see a null thread record in
# Asio's scheduler once its code is inlined into ours; the warning is about Asio's header, so
# whatever includes Asio goes without it (this comes after the project's own warning options).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(meterly_asio INTERFACE -Wno-null-dereference)
endif()
add_library(meterly::asio ALIAS meterly_asio)

if(METERLY_BUILD_TESTS)
    find_package(GTest REQUIRED)
endif()
if(METERLY_BUILD_BENCH)
    find_package(benchmark REQUIRED)
endif()

# The app role: ICU for the date and number texts, Qt 6 for the tray, windows and D-Bus.
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-i18n icu-uc)
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets DBus)
# The tray watch follows the X tray selection's owner through XFixes.
pkg_check_modules(XCB_XFIXES REQUIRED IMPORTED_TARGET xcb xcb-xfixes)
if(METERLY_BUILD_TESTS)
    find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
endif()
