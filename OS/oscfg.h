/// \file
/// Sectioned configuration files: an ordered, in-memory model of a text file
/// of section headers, `name = value` parameters and `#` comments, with its
/// reader and writer. Comments and blank lines are records of their own, so
/// a file can be read, edited and written back with its order and remarks.
#ifndef KV_OS_OSCFG_H
#define KV_OS_OSCFG_H

#include "OS/osbase.h"
#include "OS/oserror.h"
#include "OS/oslist.h"
#include "OS/osstring.h"

namespace Korvane {

/// The kind of a configuration record, which says which of its fields are
/// used.
enum eKV_CfgType {
  /// A section header "[name] # comment": name and comment.
  eCfgSection = 1,  // name and comment
  /// A parameter "name = value # comment": name, value and comment.
  eCfgParam = 2,    // name, value and comment
  /// A comment line: comment only; a blank line has an empty comment.
  eCfgComment = 3,  // comment only; a blank line has an empty comment
};

/// One line of a configuration file. Only cKV_CfgFile creates and destroys
/// records. A copy carries the source's list links: it must never be linked
/// or handed to a file.
class KV_OS_API cKV_CfgRecord : public cKV_List2Item {
 public:
  /// A copy of every field, the list links included.
  /// \param other the record copied.
  cKV_CfgRecord(cKV_CfgRecord const& other);
  /// Copies every field, the list links included.
  /// \param other the record copied.
  /// \return this record.
  cKV_CfgRecord& operator=(cKV_CfgRecord const& other);

  /// \return the kind of line.
  eKV_CfgType GetType() const { return _type; }
  /// \return the name of a section or parameter; empty for a comment.
  cKV_String const& GetName() const { return _name; }
  /// \return the value of a parameter; empty for the other kinds.
  cKV_String const& GetValue() const { return _value; }
  /// \return the comment, without its '#'.
  cKV_String const& GetComment() const { return _comm; }

  /// The line that WriteFile writes for this record.
  /// \return the line, line feed included, but without the blank line that
  ///   WriteFile may put before a section; empty when memory could not be
  ///   obtained, and for a record of no known type (which WriteFile skips).
  cKV_String ToString() const;

 private:
  friend class cKV_CfgFile;
  // Null texts are empty.
  cKV_CfgRecord(eKV_CfgType type, char const* name, char const* value, char const* comment);
  ~cKV_CfgRecord() override;

  eKV_CfgType& _Type() { return _type; }
  cKV_String& _Name() { return _name; }
  cKV_String& _Value() { return _value; }
  cKV_String& _Comm() { return _comm; }

  eKV_CfgType _type;
  cKV_String _name;
  cKV_String _value;
  cKV_String _comm;
};

#if !defined(_WIN32)
/// The record list is instantiated once, inside the library. A DLL exports
/// no inline members, so on Windows each program instantiates its own.
extern template class KV_OS_API ctKV_List2<cKV_CfgRecord>;
#endif

/// A configuration file: one flat list of records in file order. The section
/// area of a section record runs up to the next section record; records before
/// the first section belong to no section and are reached only by walking the
/// list. Names compare case-insensitively over A..Z only; an empty name never
/// matches; the first match in file order wins.
///
/// The file owns its records. Copying is forbidden: a member-wise copy would
/// destroy the same records twice, and a deep copy could not report running
/// out of memory.
///
/// The editing operations report by their result only; the reader and the
/// writer report with code 3 (code 7 for memory) from ".\oscfg".
///
/// One thread at a time.
class KV_OS_API cKV_CfgFile {
 public:
  /// A file without records.
  cKV_CfgFile();
  /// Destroys every record.
  ~cKV_CfgFile();
  cKV_CfgFile(cKV_CfgFile const&) = delete;
  cKV_CfgFile& operator=(cKV_CfgFile const&) = delete;

  /// The records in file order: walk with GetList().GetFirst() and GetNext.
  /// \return the record list, read-only.
  ctKV_List2<cKV_CfgRecord> const& GetList() const { return _list; }
  /// \return the first record of the file, or null when there is none.
  cKV_CfgRecord* GetFirst() const { return _list.GetFirst(); }
  /// \param record one of this file's records, or null.
  /// \return the record after it; null after the last record and for a null
  ///   record.
  cKV_CfgRecord* GetNext(cKV_CfgRecord* record) const;

  /// \param name the section name.
  /// \return the first section record of that name, or null (always for a
  ///   null or empty name).
  cKV_CfgRecord* FindSection(char const* name) const;
  /// Searches one section area for a parameter.
  /// \param from where to search: null for the first section's area, a
  ///   section record for the area after it, any other record for the rest
  ///   of its area from that record on.
  /// \param name the parameter name.
  /// \return the first parameter record of that name there, or null.
  cKV_CfgRecord* FindParam(cKV_CfgRecord* from, char const* name) const;

  /// Finds the first section called `name`, or appends a new one.
  /// \param name the section name; null or empty appends a nameless section.
  /// \param clear whether to empty an existing section's area.
  /// \param comment if not null, replaces the section's comment.
  /// \return the section record; null when memory could not be obtained for
  ///   a new section or for the comment.
  cKV_CfgRecord* SetSect(char const* name, bool clear, char const* comment);
  /// Removes the first section called `name` with its area.
  /// \param name the section name.
  /// \return true, also when there is no such section.
  bool DelSect(char const* name);
  /// Sets the value of the first parameter called `name` in the section's
  /// area, or adds the parameter after the section's last parameter (right
  /// after the section record when it has none).
  /// \param section a section record of this file.
  /// \param name the parameter name.
  /// \param value the new value; null empties it.
  /// \param comment if not null, replaces the comment.
  /// \return false for a null or non-section record, and when memory could
  ///   not be obtained.
  bool SetParam(cKV_CfgRecord* section, char const* name, char const* value, char const* comment);
  /// Adds a parameter after the section's last parameter, even when one of
  /// that name exists.
  /// \param section a section record of this file.
  /// \param name the parameter name.
  /// \param value the value.
  /// \param comment the comment, or null.
  /// \return false for a null or non-section record, and when memory could
  ///   not be obtained.
  bool AddParam(cKV_CfgRecord* section, char const* name, char const* value, char const* comment);
  /// Removes the first parameter called `name` in the section's area.
  /// \param section a section record of this file.
  /// \param name the parameter name.
  /// \return false for a null or non-section record, or when there is no
  ///   such parameter.
  bool DelParam(cKV_CfgRecord* section, char const* name);
  /// Links a comment into the file.
  /// \param after a record of this file to follow, or null for the very
  ///   first place in the file.
  /// \param text the comment, without '#'.
  /// \return false only when memory could not be obtained.
  bool AddComm(cKV_CfgRecord* after, char const* text);
  /// Removes a comment record.
  /// \param record a record of this file.
  /// \return false, changing nothing, when `record` is null or no comment.
  bool DelComm(cKV_CfgRecord* record);
  /// Removes and destroys every record.
  void DelAll();

  /// Appends the records of the file at `path` to those present. A line that
  /// is neither header, parameter nor comment ends the reading silently, with
  /// true. A directory cannot be opened.
  /// \param error gets the reason of a failure: code 7 "Failed to allocate
  ///   %d bytes." when the line buffer cannot be had, code 3 "Files to open
  ///   file [%s] for read", or "Failed to read data from file [%s]" after a
  ///   read error.
  /// \param path the file.
  /// \return false on a failure; the records read before it stay.
  bool ReadFile(cKV_Error& error, char const* path);
  /// Appends the records of text in memory, read exactly as ReadFile reads
  /// a file of these bytes: a line ends after its line feed, a longer one
  /// comes in pieces of at most 32767 bytes, a NUL ends what the parser sees
  /// of its line, and a rejected line ends the reading quietly with true.
  /// So input that can be read only once (a pipe) can be read into memory
  /// first.
  /// \param error gets code 7 "Failed to allocate %d bytes." when the line
  ///   buffer cannot be obtained.
  /// \param text the bytes; may hold NUL bytes.
  /// \param length the number of bytes.
  /// \return false only when the line buffer cannot be obtained.
  bool ReadText(cKV_Error& error, char const* text, unsigned int length);
  /// Replaces the contents of `path` with the records, one line each; nothing
  /// is quoted.
  /// \param error gets the reason of a failure: code 3 "Failed to open file
  ///   [%s] for write" or "Failed to write data into file [%s]".
  /// \param path the file, created when missing.
  /// \return false on a failure; the file may then be partly written.
  bool WriteFile(cKV_Error& error, char const* path) const;

 private:
  // The line scanners. Each tells where its text lies in the line (start
  // and length) instead of copying it, so that every text is copied once,
  // straight into its record.
  static int _FindToken(char const* line, int position);
  // Skips blanks, then takes the run of name characters: the reading
  // position moves behind it. A run that would begin with a digit sets
  // `errorPosition` (else -1) and gives length 0.
  static int _GetName(char const* line, int& position, int& errorPosition);
  // The reading position moves to where the value ends: the line end, or a
  // `#` outside double quotes.
  static int _GetValue(char const* line, int& position, int& start);
  static int _GetComm(char const* line, int position, int& start);
  // False when the line is rejected or its record cannot be made.
  bool _ParseLine(char const* line);

  // A new record, or null when memory could not be obtained.
  static cKV_CfgRecord* _NewRecord(eKV_CfgType type, char const* name, char const* value, char const* comment);
  // Removes and destroys `record`; returns the record that followed it.
  cKV_CfgRecord* _Remove(cKV_CfgRecord* record);
  // Removes and destroys the records of the area after `section`.
  void _ClearArea(cKV_CfgRecord* section);
  bool _InsertParam(cKV_CfgRecord* section, char const* name, char const* value, char const* comment,
                    bool replace);

  ctKV_List2<cKV_CfgRecord> _list;
};

}  // namespace Korvane

#endif
