#pragma once
// The value objects of the base library: TInteger, TBoolean, TTDateTime.

#include <cstdint>
#include <string>

#include "basis/TPObject.h"

class TInteger : public TPObject {
  MORVANE_CLASS(TInteger, TPObject)

  TInteger();
  explicit TInteger(int32_t value);
  // The text read as a decimal integer; anything else raises ConvertException.
  explicit TInteger(const std::string& text);

  int32_t intValue() const noexcept { return value; }
  // -1, 0 or 1.
  static int32_t compare(int32_t a, int32_t b) noexcept;
  virtual int32_t compareTo(const TInteger& other) const;
  virtual int32_t compareTo(int32_t other) const;

  bool equals(const TMappedObject* obj) const override;
  std::string toString() const override;
  int32_t hashCode() const override { return value; }
  std::unique_ptr<TMappedObject> clone() const override;
  void readFrom(TFile& file) override;
  void writeTo(TFile& file) override;

  int32_t value = 0;
};

class TBoolean : public TPObject {
  MORVANE_CLASS(TBoolean, TPObject)

  TBoolean();
  explicit TBoolean(bool value);

  bool booleanValue() const noexcept { return value; }
  // "true" or "false" in any letter case; anything else raises ParserException.
  static bool fromString(const std::string& text);
  static std::string toString(bool b);

  bool equals(const TMappedObject* obj) const override;
  std::string toString() const override;
  std::unique_ptr<TMappedObject> clone() const override;
  void readFrom(TFile& file) override;
  void writeTo(TFile& file) override;

  bool value = false;
};

class TTDateTime : public TPObject {
  MORVANE_CLASS(TTDateTime, TPObject)

  TTDateTime();
  explicit TTDateTime(double value);

  double dateTimeValue() const noexcept { return value; }
  // Milliseconds from `earlier` to `later`; 0 unless earlier < later.
  // Differences beyond the 32-bit range give INT32_MAX.
  static int32_t elapsedMillis(double later, double earlier);

  bool equals(const TMappedObject* obj) const override;
  // The locale's short date, a blank and its long time; the date alone when
  // the time of day has no whole second.
  std::string toString() const override;
  std::unique_ptr<TMappedObject> clone() const override;
  void readFrom(TFile& file) override;
  void writeTo(TFile& file) override;

  double value = 0.0;
};
