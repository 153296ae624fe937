/// \file
/// Shared definitions of every public header of the library.
#ifndef KV_OS_OSBASE_H
#define KV_OS_OSBASE_H

#include <cstdarg>
#include <cstddef>

/// \namespace Korvane
/// The Korvane application framework: everything that the kv_Os library
/// exports lives in this namespace.

/// \def KV_OS_API
/// The one export macro: the library is built with hidden visibility and
/// only what carries KV_OS_API (all of it inside namespace Korvane) is
/// exported. On Windows the DLL exports what carries it; its users import
/// through the import library, where the linker resolves functions and data
/// alike.
///
/// \def KV_OS_PRINTF
/// Lets the compiler check a printf-style call: `fmt` is the position of the
/// format argument, `args` that of the first argument it formats (0 for a
/// va_list).
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
