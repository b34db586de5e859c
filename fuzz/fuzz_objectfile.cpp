// Arbitrary bytes as an object file: read as a run of nested objects by
// class name, as the record of every registered class, and loaded into a
// string list. Whatever is read is then used (text form, hash, clone,
// equality) the way the rest of the system uses objects from files; value
// objects and string lists that load are stored and must load back equal.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "basis/BasisStartup.h"
#include "basis/TAbstractCollection.h"
#include "basis/TClass.h"
#include "basis/TFile.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "basis/ValueObjects.h"
#include "fuzz/FuzzFiles.h"

namespace {

std::string path;
std::string copyPath;

void removeFiles() {
  if (!path.empty()) ::unlink(path.c_str());
  if (!copyPath.empty()) ::unlink(copyPath.c_str());
}

bool comparesByValue(const TPObject& obj) {
  return obj.isA<TString>() || obj.isA<TStringCollection>() || obj.isA<TInteger>() ||
         obj.isA<TBoolean>();
}

// What was read writes itself so that it reads back equal.
void roundTrip(TPObject& obj) {
  obj.store(copyPath);
  std::unique_ptr<TMappedObject> blank = obj.getClass().newBlank();
  auto* again = as<TPObject>(blank.get());
  again->load(copyPath);
  if (!again->equals(&obj)) std::abort();
}

void use(const TPObject& obj) {
  (void)obj.toString();
  (void)obj.hashCode();
  std::unique_ptr<TMappedObject> copy = obj.clone();
  (void)copy->equals(&obj);
  (void)obj.equals(copy.get());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  startupBasis();
  path = fuzzTempFile("fuzz_objectfile");
  copyPath = fuzzTempFile("fuzz_objectfile");
  std::atexit(removeFiles);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  writeFuzzInput(path, data, size);

  // A list of nested objects, each its class name and record.
  try {
    TFile file(path, false, "");
    while (file.getPosition() < file.getSize()) {
      std::unique_ptr<TPObject> obj = file.readTPObject();
      // Collections read from a file own nothing; the root takes it all.
      TAbstractCollection::adoptContentsOf(obj.get());
      use(*obj);
    }
  } catch (const Exception&) {
  }

  // One top-level record of each class that files can name.
  for (const TClass* cls : TClassRegistry::classes()) {
    std::unique_ptr<TMappedObject> blank = cls->newBlank();
    auto* obj = as<TPObject>(blank.get());
    if (obj == nullptr) continue;
    try {
      obj->load(path);
      TAbstractCollection::adoptContentsOf(obj);
      use(*obj);
    } catch (const Exception&) {
      TAbstractCollection::adoptContentsOf(obj);
      continue;
    }
    if (comparesByValue(*obj)) roundTrip(*obj);
  }
  return 0;
}
