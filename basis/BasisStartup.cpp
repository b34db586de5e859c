#include "basis/BasisStartup.h"

#include <cstdlib>
#include <ctime>

#include "basis/TArrayList.h"
#include "basis/TClass.h"
#include "basis/TFile.h"
#include "basis/THashSet.h"
#include "basis/THashtable.h"
#include "basis/TMapEntry.h"
#include "basis/TPObject.h"
#include "basis/TProperties.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "basis/TStringSet.h"
#include "basis/TStringtable.h"
#include "basis/TTextFile.h"
#include "basis/ValueObjects.h"

void startupBasis() {
  for (const TClass* cls : {
           &TPObject::classInfo(),
           &TFile::classInfo(),
           &TTextFile::classInfo(),
           &TStringCollection::classInfo(),
           &TArrayList::classInfo(),
           &TString::classInfo(),
           &TInteger::classInfo(),
           &TBoolean::classInfo(),
           &TTDateTime::classInfo(),
           &THashSet::classInfo(),
           &TStringSet::classInfo(),
           &TMapEntry::classInfo(),
           &THashtable::classInfo(),
           &TStringtable::classInfo(),
           &TProperties::classInfo(),
       }) {
    TClassRegistry::registerClass(*cls);
  }
  std::srand(static_cast<unsigned>(std::time(nullptr)));
}
