/// \file
/// cKV_Error, the record through which every fallible operation reports, and
/// the host's last error and its text.
#ifndef KV_OS_OSERROR_H
#define KV_OS_OSERROR_H

#include "OS/osbase.h"
#include "OS/osstring.h"

namespace Korvane {

/// Code, line, source unit and formatted message of a failure. A plain value,
/// not synchronised and not polymorphic.
///
/// A fallible operation of the library takes an optional cKV_Error* first
/// (null: the caller wants no details), fills it on failure and leaves it
/// untouched on success, so a caller that reuses one record resets it
/// itself or judges by the result.
///
/// Codes: 0 none, 1 a system service, 3 a file or storage operation, 4 a
/// thread, 5 a process, 6 a socket, 7 memory, 8 a host name. The unit is
/// the reporting unit as ".\osio", ".\ossocket" and so on.
class KV_OS_API cKV_Error {
 public:
  /// No error: code 0, line 0, empty unit and text.
  cKV_Error();
  /// A copy of all four fields.
  /// \param other the record copied.
  cKV_Error(cKV_Error const& other);
  /// Copies all four fields; self-assignment does nothing.
  /// \param other the record copied.
  /// \return this record.
  cKV_Error& operator=(cKV_Error const& other);
  /// Releases the texts.
  ~cKV_Error();

  /// Stores the fields.
  /// \param code the error code (0 for none).
  /// \param unit the reporting unit; null gives an empty text.
  /// \param line the line of the report in that unit.
  /// \param text the message; null gives an empty text.
  /// \return code == 0, so a report site can return the result.
  bool Set(int code, char const* unit, int line, char const* text);
  /// Stores code, unit and line and formats the message.
  /// \param code the error code (0 for none).
  /// \param unit the reporting unit; null gives an empty text.
  /// \param line the line of the report in that unit.
  /// \param format the printf format of the message.
  /// \return code == 0.
  bool SetFormat(int code, char const* unit, int line, char const* format, ...) KV_OS_PRINTF(5, 6);
  /// Set on a record that may be null.
  /// \param error the record, or null to store nothing.
  /// \param code the error code (0 for none).
  /// \param unit the reporting unit; null gives an empty text.
  /// \param line the line of the report in that unit.
  /// \param text the message; null gives an empty text.
  /// \return code == 0.
  static bool Set(cKV_Error* error, int code, char const* unit, int line, char const* text);
  /// SetFormat on a record that may be null; with a null record nothing is
  /// formatted.
  /// \param error the record, or null to store nothing.
  /// \param code the error code (0 for none).
  /// \param unit the reporting unit; null gives an empty text.
  /// \param line the line of the report in that unit.
  /// \param format the printf format of the message.
  /// \return code == 0.
  static bool SetFormat(cKV_Error* error, int code, char const* unit, int line, char const* format, ...)
      KV_OS_PRINTF(5, 6);

  /// Back to no error: code 0, line 0, empty unit and text.
  void Reset();
  /// \return whether the code is not 0.
  bool IsError() const { return _code != 0; }
  /// \return whether the code is 0.
  bool IsNotError() const { return _code == 0; }

  /// \return the error code, 0 for none.
  int GetCode() const { return _code; }
  /// \return the line of the report in its unit.
  int GetLine() const { return _line; }
  /// \return a copy of the reporting unit, such as ".\osio".
  cKV_String GetUnit() const { return _unit; }
  /// \return a copy of the message.
  cKV_String GetText() const;

  /// The text form, "code:line:unitLength:unit:textLength:text"; the lengths
  /// (in bytes) frame the two texts, so either may hold colons.
  /// \return the text form, e.g. "3:10:1:u:16:File not found:x".
  cKV_String ToString() const;
  /// Parses the text form; never reads past the text's NUL, and bytes after
  /// the message are ignored.
  /// \param text the text form.
  /// \return true when the whole record was read; on any failure false,
  ///   with the record exactly as it was.
  bool FromString(char const* text);

 private:
  int _code;
  int _line;
  cKV_String _unit;
  cKV_String _text;
};

/// The calling thread's last host error number. Call it on the failing
/// thread before any other host call.
/// \return errno on Linux, GetLastError() on Windows.
KV_OS_API int osGetSysError();
/// The host's description of an error number.
/// \param code the host's error number.
/// \return "GetLastError()=%d [%s]" with the number and its description,
///   trailing line breaks removed; an empty string when the host does not
///   describe the number.
KV_OS_API cKV_String osGetSysErrorStr(int code);

}  // namespace Korvane

#endif
