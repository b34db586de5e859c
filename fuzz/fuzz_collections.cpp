// Arbitrary bytes as the object file of a collection: lists, sets, string
// sets, tables and map entries nest each other by class name to any depth.
// Reading must load them or fail with an exception, releasing everything it
// made either way; what loads is used, written back and read again.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "basis/BasisStartup.h"
#include "basis/TArrayList.h"
#include "basis/TFile.h"
#include "basis/THashSet.h"
#include "basis/THashtable.h"
#include "basis/TMapEntry.h"
#include "basis/TStringCollection.h"
#include "basis/TStringSet.h"
#include "fuzz/FuzzFiles.h"

namespace {

std::string inputPath;
std::string copyPath;

void removeFiles() {
  if (!inputPath.empty()) ::unlink(inputPath.c_str());
  if (!copyPath.empty()) ::unlink(copyPath.c_str());
}

// Everything a caller does with a loaded collection.
void use(TPObject& obj) {
  (void)obj.toString();
  (void)obj.hashCode();
  std::unique_ptr<TMappedObject> copy = obj.clone();
  (void)copy->equals(&obj);
  (void)obj.equals(copy.get());
  if (auto* set = as<THashSet>(&obj)) {
    (void)set->toStringCollection();
    std::unique_ptr<TArrayList> list = set->toList();
    if (list->size() != set->size()) std::abort();
    // Elements whose equals is not reflexive (a NaN date-time) are not found again.
    for (int32_t i = 0; i < list->size(); ++i) (void)set->get(list->get(i));
    TStringCollection strings(set);
  }
  if (auto* table = as<THashtable>(&obj)) {
    std::unique_ptr<TArrayList> keys = table->keys();
    std::unique_ptr<TArrayList> values = table->values();
    if (keys->size() != values->size() || keys->size() != table->size()) std::abort();
    for (int32_t i = 0; i < keys->size(); ++i) {
      try {
        (void)table->get(keys->get(i));  // keys whose copies are not equal are not found
      } catch (const InvalidKeyException&) {
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  startupBasis();
  inputPath = fuzzTempFile("fuzz_collections");
  copyPath = fuzzTempFile("fuzz_collections_copy");
  std::atexit(removeFiles);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  writeFuzzInput(inputPath, data, size);
  for (const TClass* cls : {&TArrayList::classInfo(), &THashSet::classInfo(), &TStringSet::classInfo(),
                            &THashtable::classInfo(), &TMapEntry::classInfo()}) {
    std::unique_ptr<TMappedObject> blank = cls->newBlank();
    auto* obj = static_cast<TPObject*>(blank.get());
    bool loaded = false;
    try {
      obj->load(inputPath);
      loaded = true;
    } catch (const Exception&) {
    }
    // A loaded tree owns nothing yet; its root takes everything, also what a
    // failed load left behind.
    TAbstractCollection::adoptContentsOf(obj);
    if (!loaded) continue;
    use(*obj);

    // What was read is written and read back to the same shape.
    obj->store(copyPath);
    std::unique_ptr<TMappedObject> again = cls->newBlank();
    auto* reread = static_cast<TPObject*>(again.get());
    reread->load(copyPath);
    TAbstractCollection::adoptContentsOf(reread);
    auto* list = as<TArrayList>(obj);
    if (list != nullptr && as<TArrayList>(reread)->size() > list->size()) std::abort();
  }
  return 0;
}
