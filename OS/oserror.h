// cKV_Error, the record through which every fallible operation reports, and
// the host's last error and its text.
#ifndef KV_OS_OSERROR_H
#define KV_OS_OSERROR_H

#include "OS/osbase.h"
#include "OS/osstring.h"

namespace Korvane {

// Code, line, source unit and formatted message of a failure. A plain value,
// not synchronised and not polymorphic.
//
// Codes: 0 none, 1 a system service, 3 a file or storage operation, 4 a
// thread, 5 a process, 6 a socket, 7 memory, 8 a host name.
class KV_OS_API cKV_Error {
 public:
  cKV_Error();
  cKV_Error(cKV_Error const& other);
  cKV_Error& operator=(cKV_Error const& other);
  ~cKV_Error();

  // Store the fields; return code == 0. Null texts give empty strings.
  bool Set(int code, char const* unit, int line, char const* text);
  bool SetFormat(int code, char const* unit, int line, char const* format, ...) KV_OS_PRINTF(5, 6);
  // With a null record these only return code == 0 (nothing is formatted).
  static bool Set(cKV_Error* error, int code, char const* unit, int line, char const* text);
  static bool SetFormat(cKV_Error* error, int code, char const* unit, int line, char const* format, ...)
      KV_OS_PRINTF(5, 6);

  void Reset();
  bool IsError() const { return _code != 0; }
  bool IsNotError() const { return _code == 0; }

  int GetCode() const { return _code; }
  int GetLine() const { return _line; }
  cKV_String GetUnit() const { return _unit; }
  cKV_String GetText() const;

  // "code:line:unitLength:unit:textLength:text"; the lengths frame the two
  // texts, so either may hold colons.
  cKV_String ToString() const;
  // Parses the text form. On any failure returns false and leaves the record
  // exactly as it was; never reads past the text's NUL. Bytes after the
  // message are ignored.
  bool FromString(char const* text);

 private:
  int _code;
  int _line;
  cKV_String _unit;
  cKV_String _text;
};

// The calling thread's last host error number (errno on Linux). Call it on
// the failing thread before any other host call.
KV_OS_API int osGetSysError();
// "GetLastError()=%d [%s]" with the host's description of `code`, trailing
// line breaks removed; an empty string when the host does not describe the
// number.
KV_OS_API cKV_String osGetSysErrorStr(int code);

}  // namespace Korvane

#endif
