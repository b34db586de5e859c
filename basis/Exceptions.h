#pragma once
// The exception classes of the base library.
//
// Every exception the system raises derives from Exception, which carries the
// message and knows its own class name: wrapping code quotes that name as
// "(ClassName) message" when it raises a new exception around a caught one.

#include <cstdint>
#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& getMessage() const noexcept { return message_; }
  virtual const char* className() const noexcept { return "Exception"; }

 private:
  std::string message_;
};

// Declares an exception class that only carries its message.
#define MORVANE_EXCEPTION(Name, Parent)                                   \
  class Name : public Parent {                                            \
   public:                                                                \
    using Parent::Parent;                                                 \
    const char* className() const noexcept override { return #Name; }     \
  }

MORVANE_EXCEPTION(IllegalArgumentException, Exception);
MORVANE_EXCEPTION(InvalidKeyException, Exception);
MORVANE_EXCEPTION(IllegalPropertyValueException, Exception);
MORVANE_EXCEPTION(IllegalStateException, Exception);
MORVANE_EXCEPTION(InvalidPropertiesException, Exception);
MORVANE_EXCEPTION(NoSuchElementException, Exception);
MORVANE_EXCEPTION(IOException, Exception);
MORVANE_EXCEPTION(CreateException, Exception);
// Raised by the class registry for a name that was never registered.
MORVANE_EXCEPTION(ClassNotFoundException, Exception);
// Raised when a text does not convert to a number.
MORVANE_EXCEPTION(ConvertException, Exception);

class FileNotFoundException : public IOException {
 public:
  explicit FileNotFoundException(std::string fileName)
      : IOException("File '" + fileName + "' not found."), fileName_(std::move(fileName)) {}
  const char* className() const noexcept override { return "FileNotFoundException"; }
  const std::string& getFileName() const noexcept { return fileName_; }

 private:
  std::string fileName_;
};

class ParserException : public Exception {
 public:
  // message = method + ": " + reason + ": '" + text from position (1-based) + "'."
  ParserException(std::string method, std::string reason, std::string text, int32_t position);
  const char* className() const noexcept override { return "ParserException"; }
  const std::string& getMethod() const noexcept { return method_; }
  const std::string& getReason() const noexcept { return reason_; }
  const std::string& getText() const noexcept { return text_; }
  int32_t getPosition() const noexcept { return position_; }

 private:
  std::string method_;
  std::string reason_;
  std::string text_;
  int32_t position_;
};

// Class name of any caught exception: ours know it; standard ones get a
// readable stand-in.
std::string exceptionClassName(const std::exception& e);

// "(ClassName) message": the tail of every wrapping message.
std::string wrappedText(const std::exception& e);
