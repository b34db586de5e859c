#include "main/TWindowsIterator.h"

#include <utility>
#include <vector>

#include "basis/Exceptions.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "platform/windows/WindowSource.h"

namespace {

// State of the running poll, shared with the enumeration callback, which
// carries no object.
const TStringCollection* currentTitles = nullptr;
int32_t currentTitleLength = 0;
bool windowFound = false;
// The entries of currentTitles trimmed and lower-cased, made once per poll
// instead of once per window.
std::vector<std::string> currentKeys;

std::string comparable(const std::string& text) { return TString::toLowerAscii(TString::trim(text)); }

}  // namespace

TWindowsIterator::TWindowsIterator(const TStringCollection* titles, uintptr_t ownerHandle) : titles_(titles) {
  if (titles == nullptr || titles->isEmpty()) {
    throw IllegalArgumentException("TWindowsIterator.<init>: Titles must'nt be nil and empty.");
  }
  titleLength_ = getTitleLength(titles);
  ownerHandle_ = ownerHandle;
  seen = false;
  windows_ = WindowSource::open();
  windows_->setWantedTitles(titles->getStrings());
}

TWindowsIterator::~TWindowsIterator() = default;

std::string TWindowsIterator::notice() const { return windows_->notice(); }

void TWindowsIterator::setChangeHandler(std::function<void()> handler) {
  windows_->setChangeHandler(std::move(handler));
}

int32_t TWindowsIterator::getTitleLength(const TStringCollection* titles) {
  int32_t length = static_cast<int32_t>(titles->get(0).size());
  for (int32_t i = 1; i < titles->size(); ++i) {
    auto entry = static_cast<int32_t>(titles->get(i).size());
    if (entry < length) length = entry;
  }
  if (length == 0) throw IllegalArgumentException("TWindowsIterator.getTitleLength: Length is null.");
  return length;
}

void TWindowsIterator::prepare() {
  windowFound = false;
  currentTitles = titles_;
  currentTitleLength = titleLength_;
  currentKeys.clear();
  for (const std::string& entry : currentTitles->getStrings()) currentKeys.push_back(comparable(entry));
}

bool TWindowsIterator::findWindow() {
  prepare();
  windows_->enumWindows(currentTitleLength, &TWindowsIterator::enumWindowsCallback, ownerHandle_);
  currentTitles = nullptr;
  seen = seen || windowFound;
  return windowFound;
}

bool TWindowsIterator::enumWindowsCallback(uint32_t /*window*/, std::string_view title, uintptr_t /*value*/) {
  // The enumeration reads at most currentTitleLength bytes of each title.
  const std::string_view text = TString::trimmed(title.substr(0, static_cast<size_t>(currentTitleLength)));
  for (const std::string& key : currentKeys) {
    if (TString::equalsLowerAscii(text, key)) {
      windowFound = true;
      break;
    }
  }
  return !windowFound;
}
