// Shared definitions of every public header of the library.
#ifndef KV_OS_OSBASE_H
#define KV_OS_OSBASE_H

#include <cstdarg>
#include <cstddef>

// The one export macro: the library is built with hidden visibility and only
// what carries KV_OS_API (all of it inside namespace Korvane) is exported.
// On Windows the DLL exports what carries it; its users import through the
// import library, where the linker resolves functions and data alike.
#if defined(_WIN32) && defined(KV_OS_BUILDING)
#define KV_OS_API __declspec(dllexport)
#define KV_OS_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(_WIN32)
#define KV_OS_API
#define KV_OS_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__) || defined(__clang__)
#define KV_OS_API __attribute__((visibility("default")))
#define KV_OS_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define KV_OS_API
#define KV_OS_PRINTF(fmt, args)
#endif

#endif
