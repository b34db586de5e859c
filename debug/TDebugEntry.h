#pragma once
// One reported event: a trace text or a caught exception, stamped with its
// time, level and channel. Entries print themselves (toString) and store
// themselves as records of binary entry files.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "basis/DateTime.h"
#include "basis/TPObject.h"

class TDebugEntry : public TPObject {
  MORVANE_CLASS(TDebugEntry, TPObject)

  // Bits of `flags` (a channel's verbose mode) that shape the header.
  static constexpr int32_t VERBOSE_TIME = 1;
  static constexpr int32_t VERBOSE_CHANNEL = 2;
  static constexpr int32_t VERBOSE_ELAPSED = 4;

  // Empty entry stamped now.
  TDebugEntry();
  // Stamped now. A failure raises CreateException "TDebugEntry.create: (Class) message".
  TDebugEntry(const std::string& message, const std::string& channelName, int32_t flags,
              int32_t level, double previousTime);
  // Every field given.
  TDebugEntry(const std::string& message, const std::string& channelName, int32_t flags,
              int32_t level, double previousTime, double time);

  // The header: time stamp, channel name and elapsed time as `flags` asks,
  // then ": ".
  std::string toString() const override;
  // A new entry of the same class with equal fields.
  std::unique_ptr<TMappedObject> clone() const override;
  void readFrom(TFile& file) override;
  void writeTo(TFile& file) override;
  // Empty texts, flags and level 0, both date-times now.
  void initialize() override;

  // "dd.mm.yyyy hh:mm:ss.zzz".
  virtual std::string formatTime(double time) const;
  static std::string formatDateTime(double time);

  // The first line of an entry's text read back from a text log: what
  // toString() wrote before the message. The views point into the line.
  struct TextHeader {
    bool hasTime = false;
    datetime::Parts time;          // when hasTime
    std::string_view channelName;  // empty when the line shows none
    std::string_view message;      // everything after the header
  };
  // Reads a header as toString() writes it under any verbose mode: the time
  // stamp when the line starts with one, then the channel name and the
  // elapsed time up to the first ": ". False when no ": " follows.
  static bool parseHeader(std::string_view line, TextHeader& header);
  // Reads "dd.mm.yyyy hh:mm:ss.zzz" as formatDateTime() writes it for the
  // years 0 to 9999: exactly 23 characters, a date that exists and a valid
  // time of day; false for anything else.
  static bool parseDateTime(std::string_view text, datetime::Parts& parts);

  std::string channelName;
  std::string message;
  double time = 0.0;
  double previousTime = 0.0;
  int32_t flags = 0;
  int32_t level = 0;

 protected:
  // The constructors' body: initialize(), then the fields. A failure raises
  // CreateException with `method` + ": (Class) message".
  void assign(const char* method, const std::string& message, const std::string& channelName,
              int32_t flags, int32_t level, double previousTime, double time);
  // Copies this entry's fields into `copy` (of the same class).
  void copyFieldsTo(TDebugEntry& copy) const;
};
