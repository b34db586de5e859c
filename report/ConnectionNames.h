#pragma once
// The connection names met in the logs, each kept once and known by a
// number, and the choice of names a report is restricted to.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class ConnectionNames {
 public:
  static constexpr uint32_t EXCLUDED = UINT32_MAX;

  // Every name, or only those of `chosen` (compared with the bytes of the
  // log and with their text as shown, see text()).
  explicit ConnectionNames(std::vector<std::string> chosen = {});

  // The number of `name`, given to it when first met; EXCLUDED for a name
  // outside the choice.
  uint32_t idOf(std::string_view name);
  const std::string& bytes(uint32_t id) const { return names_[id]; }
  // The name as UTF-8: its bytes when they are UTF-8, else each byte read
  // as Latin-1.
  const std::string& text(uint32_t id) const { return texts_[id]; }
  // Orders ids by the bytes of their names.
  bool less(uint32_t a, uint32_t b) const { return names_[a] < names_[b]; }
  size_t size() const { return names_.size(); }

  static std::string asUtf8(std::string_view bytes);

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view text) const { return std::hash<std::string_view>()(text); }
  };

  std::vector<std::string> chosen_;
  std::vector<std::string> names_;
  std::vector<std::string> texts_;  // as text()
  // Every name met, those outside the choice as EXCLUDED.
  std::unordered_map<std::string, uint32_t, Hash, std::equal_to<>> ids_;
  // Logs repeat a few names line after line: the last answers are kept.
  struct Recent {
    std::string name;
    uint32_t id = EXCLUDED;
    bool used = false;
  };
  Recent recent_[4];
  size_t nextRecent_ = 0;
};
