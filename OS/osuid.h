/// \file
/// cKV_Uid: a 16-byte identifier that the library generates unique across
/// machines, processes and time, with a fixed text form and a total order.
#ifndef KV_OS_OSUID_H
#define KV_OS_OSUID_H

#include "OS/osbase.h"
#include "OS/osstring.h"

namespace Korvane {

/// A 16-byte identifier. Layout of a generated identifier, bytes 0 to 15:
/// - 0..5: node, the hardware address of the first Ethernet interface, or,
///   when the machine has none, the library's load time (seconds, 4 bytes,
///   then milliseconds, 2 bytes, most significant first);
/// - 6..9: the process id, least significant byte first;
/// - 10..13: seconds since 1970-01-01 UTC, least significant byte first;
/// - 14..15: milliseconds within that second, least significant byte first.
///
/// A process issues at most one identifier per millisecond.
class KV_OS_API cKV_Uid {
 public:
  /// The empty identifier: all bytes 0.
  cKV_Uid();
  /// An identifier made from a number.
  /// \param value stored in bytes 6..9, most significant byte first; every
  ///   other byte is 0.
  cKV_Uid(int value);  // NOLINT: implicit by design
  /// A copy of the 16 bytes.
  /// \param other the identifier copied.
  cKV_Uid(cKV_Uid const& other);
  /// Copies the 16 bytes.
  /// \param other the identifier copied.
  /// \return this identifier.
  cKV_Uid& operator=(cKV_Uid const& other);
  /// Does nothing more.
  virtual ~cKV_Uid();

  /// Makes this identifier a new unique value. Safe from any thread; a burst
  /// of calls waits for the next millisecond between identifiers.
  void Generate();

  /// \param other the identifier compared.
  /// \return whether all 16 bytes are equal.
  bool operator==(cKV_Uid const& other) const;
  /// \param other the identifier compared.
  /// \return whether any byte differs.
  bool operator!=(cKV_Uid const& other) const;
  /// The total order of identifiers.
  /// \param other the identifier compared.
  /// \return -1, 0 or +1 by the first differing byte, bytes unsigned.
  int Cmp(cKV_Uid const& other) const;
  /// \return whether all bytes are 0.
  bool IsEmpty() const;
  /// \return whether any byte is not 0.
  bool IsNotEmpty() const;
  /// Makes this identifier the empty one.
  void SetEmpty();
  /// \return the empty identifier, made when the library is loaded.
  static cKV_Uid const& GetEmpty();

  /// \return the 16 bytes, writable.
  unsigned char* Buffer() { return _bytes; }
  /// \return the 16 bytes.
  unsigned char const* GetBuffer() const { return _bytes; }

  /// The text form.
  /// \return "0x" and 32 lowercase hexadecimal digits, byte 0 first.
  cKV_String ToString() const;
  /// Parses the text form.
  /// \param text at least 34 characters: "0x" (lowercase x) and 32
  ///   hexadecimal digits of either case; characters after the 34th are
  ///   ignored.
  /// \return whether the text was accepted; on failure nothing changes.
  bool FromString(char const* text);

 private:
  // The empty identifier's block. A static object of this polymorphic type
  // would need its destructor registered when the library is loaded, so
  // the identifier is constructed in this constant-initialised block by the
  // load sequence instead.
  struct _EmptyBlock;
  static _EmptyBlock _empty;
  friend void MakeEmptyUid() noexcept;

  unsigned char _bytes[16];
};

}  // namespace Korvane

#endif
