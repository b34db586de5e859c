#pragma once
// Common base of the diagnostics classes (channels, pool, lists, writers,
// readers) with the framework's last-resort report of its own failures.

#include <exception>
#include <string>

#include "basis/TMappedObject.h"

class TDebugObject : public TMappedObject {
  MORVANE_CLASS(TDebugObject, TMappedObject)

  TDebugObject() : TMappedObject(TBlank{}) {}

  // internalError("unknown", exception).
  virtual void internalError(const std::exception* exception) const;
  // Reports a failure caught in the framework method `method`; a null
  // exception stands for one that is not a std::exception. The report is one
  // line on standard output, then an error dialog. Never raises.
  virtual void internalError(const std::string& method, const std::exception* exception) const;
  // Reports a failure described by a text. Never raises.
  virtual void internalError(const std::string& message) const;

  // The text of the report for a caught exception, and for a message.
  static std::string internalErrorText(const std::string& method, const std::exception* exception);
  static std::string internalErrorText(const std::string& message);

 protected:
  // Runs `body`; a failure is reported as internalError(method, exception)
  // and swallowed. True when `body` returned normally.
  template <class Body>
  bool guarded(const std::string& method, Body&& body) const noexcept {
    try {
      body();
      return true;
    } catch (const std::exception& e) {
      internalError(method, &e);
    } catch (...) {
      internalError(method, nullptr);
    }
    return false;
  }

 private:
  static void report(const std::string& text) noexcept;
};
