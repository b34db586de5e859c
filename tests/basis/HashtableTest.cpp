#include <gtest/gtest.h>

#include "basis/TArrayList.h"
#include "basis/TFile.h"
#include "basis/THashSet.h"
#include "basis/THashtable.h"
#include "basis/TMapEntry.h"
#include "basis/TString.h"
#include "basis/ValueObjects.h"
#include "tests/basis/CountedObject.h"
#include "tests/support/TempDir.h"
#include "tests/support/MessageOf.h"

namespace {


int32_t intOf(const TMappedObject* obj) { return as<TInteger>(obj)->intValue(); }

struct HashtableTest : ::testing::Test {
  void SetUp() override { TCounted::alive = 0; }
  void TearDown() override { EXPECT_EQ(TCounted::alive, 0) << "objects left alive after the test"; }
};

}  // namespace

TEST_F(HashtableTest, GetAndContainsKey) {
  THashtable table(true);
  table.put(new TString("a"), new TInteger(1));
  TString a("a"), missing("zz");
  EXPECT_EQ(intOf(table.get(&a)), 1);
  EXPECT_TRUE(table.containsKey(&a));
  EXPECT_FALSE(table.containsKey(&missing));
  EXPECT_EQ(messageOf<InvalidKeyException>([&] { table.get(&missing); }), "THashtable.get: Key: zz not found.");
  TInteger one(1), two(2);
  EXPECT_TRUE(table.containsValue(&one));
  EXPECT_FALSE(table.containsValue(&two));
  TInteger three(3);  // a refused pair is not taken
  EXPECT_EQ(messageOf<IllegalArgumentException>([&] { table.put(nullptr, &three); }),
            "THashtable: Key and value mustn't equals nil.");
}

TEST_F(HashtableTest, PutReplacesAndHandsBackACopy) {
  THashtable table(true);
  auto* first = new TCounted(1);
  EXPECT_EQ(table.put(new TCounted(7), first), nullptr);
  std::unique_ptr<TMappedObject> previous = table.put(new TCounted(7), new TCounted(2));
  ASSERT_NE(previous, nullptr);
  EXPECT_NE(previous.get(), first) << "the caller gets a copy";
  EXPECT_EQ(intOf(previous.get()), 1);
  TCounted key(7);
  EXPECT_EQ(intOf(table.get(&key)), 2);
  EXPECT_EQ(table.size(), 1);
  previous.reset();
  EXPECT_EQ(TCounted::alive, 3) << "the owning table released the old key and value";

  // The stored key and value offered again survive the replacement.
  std::unique_ptr<TArrayList> keys = table.keys();
  TMappedObject* storedKey = keys->get(0);
  TMappedObject* storedValue = table.get(&key);
  table.put(storedKey, storedValue);
  EXPECT_EQ(table.get(&key), storedValue);
  EXPECT_EQ(TCounted::alive, 3);
}

TEST_F(HashtableTest, RemoveReleasesOnlyWhatTheTableOwns) {
  {
    THashtable table(true);
    table.put(new TCounted(1), new TCounted(10));
    table.put(new TCounted(2), new TCounted(20));
    TCounted one(1), absent(3);
    std::unique_ptr<TMappedObject> value = table.remove(&one);
    EXPECT_EQ(intOf(value.get()), 10);
    EXPECT_EQ(table.size(), 1);
    EXPECT_EQ(table.remove(&absent), nullptr);
    EXPECT_EQ(TCounted::alive, 5) << "one pair left, the copy and two probes";
    table.clear();
    EXPECT_EQ(TCounted::alive, 3);
    table.put(new TCounted(4), new TCounted(40));
  }
  EXPECT_EQ(TCounted::alive, 0);

  TCounted k1(1), v1(10), k2(2), v2(20), v3(30);
  {
    THashtable table;
    table.put(&k1, &v1);
    table.put(&k2, &v2);
    std::unique_ptr<TMappedObject> replaced = table.put(&k2, &v3);
    EXPECT_EQ(intOf(replaced.get()), 20);
    replaced.reset();
    std::unique_ptr<TMappedObject> removed = table.remove(&k1);
    removed.reset();
    table.clear();
    table.put(&k1, &v1);
  }
  EXPECT_EQ(TCounted::alive, 5) << "a table that is no owner releases no key and no value";
}

TEST_F(HashtableTest, ReputMovesTheValueToTheNewKey) {
  THashtable table(true);
  table.put(new TCounted(1), new TCounted(10));
  table.put(new TCounted(2), new TCounted(20));
  TCounted one(1), two(2), five(5);
  table.reput(&one, new TCounted(5));
  EXPECT_EQ(intOf(table.get(&five)), 10);
  EXPECT_FALSE(table.containsKey(&one));
  EXPECT_EQ(table.size(), 2);
  EXPECT_EQ(TCounted::alive, 4 + 3) << "the previous key was released";

  // Onto a present key: the moving pair leaves, the other stays.
  table.reput(&five, new TCounted(2));
  EXPECT_EQ(table.size(), 1);
  EXPECT_EQ(intOf(table.get(&two)), 20);
  EXPECT_EQ(TCounted::alive, 2 + 3);

  // A failed reput takes nothing.
  TCounted zero(0);
  EXPECT_EQ(messageOf<IllegalArgumentException>([&] { table.reput(nullptr, &zero); }),
            "THashtable.reput: Old or new key not assigned.");
  EXPECT_EQ(messageOf<InvalidKeyException>([&] { table.reput(&one, &zero); }),
            "THashtable.reput: Key 1 does not exists in map.");
}

TEST_F(HashtableTest, ReputInATableWithoutOwnershipReleasesNoKey) {
  TCounted k1(1), k2(2), k3(3), v1(10), v2(20);
  {
    THashtable table;
    table.put(&k1, &v1);
    table.put(&k2, &v2);
    table.reput(&k1, &k3);
    EXPECT_EQ(table.get(&k3), &v1);
    table.reput(&k3, &k2);
    EXPECT_EQ(table.size(), 1);
    EXPECT_EQ(table.get(&k2), &v2);
    table.reput(&k2, &k2);
    EXPECT_EQ(table.get(&k2), &v2);
  }
  EXPECT_EQ(TCounted::alive, 5);
}

TEST_F(HashtableTest, KeysValuesAndEquality) {
  THashtable table(true), subset(true);
  for (int i = 0; i < 30; ++i) table.put(new TInteger(i), new TString("v" + std::to_string(i)));
  subset.put(new TInteger(3), new TString("other value"));
  std::unique_ptr<TArrayList> keys = table.keys();
  std::unique_ptr<TArrayList> values = table.values();
  ASSERT_EQ(keys->size(), 30);
  EXPECT_FALSE(keys->isOwner());
  for (int32_t i = 0; i < keys->size(); ++i) {
    EXPECT_EQ(values->get(i)->toString(), "v" + keys->get(i)->toString());
  }
  EXPECT_TRUE(table.equals(&subset)) << "keys of the other are a subset; values do not count";
  EXPECT_FALSE(subset.equals(&table));
  EXPECT_FALSE(table.equals(nullptr));
  EXPECT_FALSE(table.equals(&table.getEntries()));
  EXPECT_EQ(subset.hashCode(), 3);
  EXPECT_EQ(table.setOwner(true), &table.getEntries()) << "setOwner answers the entry set";
}

TEST_F(HashtableTest, CloneDepthFollowsTheOwnerFlag) {
  THashtable owning(true);
  owning.put(new TCounted(1), new TCounted(10));
  std::unique_ptr<THashtable> copy = cloneOf(owning);
  EXPECT_TRUE(copy->isOwner());
  TCounted one(1);
  EXPECT_NE(copy->get(&one), owning.get(&one));
  EXPECT_EQ(intOf(copy->get(&one)), 10);
  EXPECT_EQ(TCounted::alive, 5);
  copy.reset();

  TCounted key(2), value(20);
  THashtable sharing;
  sharing.put(&key, &value);
  std::unique_ptr<THashtable> shared = cloneOf(sharing);
  EXPECT_FALSE(shared->isOwner());
  EXPECT_EQ(shared->get(&key), &value);
}

TEST_F(HashtableTest, PutAllNeverLetsTwoOwnersShareAnObject) {
  THashtable source(true), target(true);
  source.put(new TCounted(1), new TCounted(10));
  source.put(new TCounted(2), new TCounted(20));
  target.put(new TCounted(2), new TCounted(99));
  target.putAll(source);
  TCounted two(2);
  EXPECT_EQ(intOf(target.get(&two)), 20);
  EXPECT_NE(target.get(&two), source.get(&two));
  EXPECT_EQ(target.size(), 2);

  THashtable view;
  view.putAll(source);
  EXPECT_EQ(view.get(&two), source.get(&two)) << "a table without ownership takes the objects themselves";
}

TEST_F(HashtableTest, EntryTextAndRecord) {
  TMapEntry both(new TString("a"), new TString("b"));
  EXPECT_EQ(both.toString(), "key.toString: a value.toString: b");
  TMapEntry valueOnly(nullptr, new TString("b"));
  EXPECT_EQ(valueOnly.toString(), "key.toString: value.toString: b");
  TMapEntry sameKey(new TString("a"), new TInteger(1));
  EXPECT_TRUE(both.equals(&sameKey));
  EXPECT_EQ(both.hashCode(), 'a');

  TempDir dir;
  TMapEntry pair(new TString("k"), new TInteger(5));
  pair.store(dir.file("entry.dat"));
  std::string bytes = TempDir::read(dir.file("entry.dat"));
  // Length, then the value's flag and class name before the key's.
  EXPECT_EQ(bytes.substr(4, 16), std::string("\x01\0\0\0\x08\0\0\0TInteger", 16));
  EXPECT_NE(bytes.find("TString"), std::string::npos);
  EXPECT_GT(bytes.find("TString"), bytes.find("TInteger"));
  TMapEntry loaded;
  loaded.load(dir.file("entry.dat"));
  EXPECT_EQ(loaded.getKey()->toString(), "k");
  EXPECT_EQ(intOf(loaded.getValue()), 5);

  TMapEntry keyOnly(new TString("k"), nullptr);
  keyOnly.store(dir.file("keyonly.dat"));
  EXPECT_EQ(TempDir::read(dir.file("keyonly.dat")).substr(4, 4), std::string("\0\0\0\0", 4))
      << "a missing value is the single integer 0";
  loaded.load(dir.file("keyonly.dat"));
  EXPECT_EQ(loaded.getValue(), nullptr);
  EXPECT_EQ(loaded.getKey()->toString(), "k");
}

TEST_F(HashtableTest, ObjectFileRoundTripOfNestedCollections) {
  TempDir dir;
  THashtable table(true);
  auto* list = new TArrayList();
  list->setOwner(true);
  list->add(new TInteger(1));
  list->add(new TString("two"));
  auto* inner = new THashtable(true);
  inner->put(new TString("x"), new TBoolean(true));
  table.put(new TString("list"), list);
  table.put(new TString("table"), inner);
  table.put(new TInteger(INT32_MIN), new TString("min"));
  table.store(dir.file("table.dat"));
  EXPECT_EQ(TempDir::read(dir.file("table.dat")).substr(4, 12), std::string("\x08\0\0\0THashSet", 12));

  THashtable loaded(true);
  loaded.load(dir.file("table.dat"));
  EXPECT_TRUE(loaded.isOwner());
  EXPECT_TRUE(loaded.getEntries().isOwner()) << "the set read takes the table's flag";
  loaded.adoptContents();
  EXPECT_EQ(loaded.size(), 3);
  TString listKey("list"), tableKey("table"), x("x");
  auto* loadedList = as<TArrayList>(loaded.get(&listKey));
  ASSERT_NE(loadedList, nullptr);
  EXPECT_EQ(loadedList->get(1)->toString(), "two");
  auto* loadedInner = as<THashtable>(loaded.get(&tableKey));
  ASSERT_NE(loadedInner, nullptr);
  EXPECT_EQ(loadedInner->get(&x)->toString(), "true");
  TInteger min(INT32_MIN);
  EXPECT_EQ(loaded.get(&min)->toString(), "min");
  EXPECT_TRUE(loaded.equals(&table) && table.equals(&loaded));
}

TEST_F(HashtableTest, TableRefusesStoredSetsWithoutCompleteEntries) {
  TempDir dir;
  auto writeSetRecord = [&](const std::string& name, TPObject& nested) {
    TFile file(dir.file(name), true, "");
    file.beginWriteRecord(true, false);
    file.writeTPObject(nested);
    file.endWriteRecord();
  };
  THashSet notEntries(true);
  notEntries.add(new TInteger(1));
  writeSetRecord("ints.dat", notEntries);
  THashSet keyless(true);
  keyless.add(new TMapEntry(nullptr, new TInteger(1)));
  writeSetRecord("keyless.dat", keyless);
  TInteger notASet(3);
  writeSetRecord("noset.dat", notASet);

  THashtable table(true);
  table.put(new TCounted(1), new TCounted(2));
  for (const char* name : {"ints.dat", "keyless.dat", "noset.dat"}) {
    EXPECT_THROW(table.load(dir.file(name)), IOException) << name;
    EXPECT_EQ(table.size(), 0) << "a failed read leaves an empty table";
  }
  table.put(new TInteger(1), new TInteger(2));
}

TEST_F(HashtableTest, ObjectFileTranslatesClassNamesThroughTheClassMap) {
  TempDir dir;
  {
    TFile file(dir.file("legacy.dat"), true, "");
    file.beginWriteRecord(true, false);
    file.writeInteger(1);
    file.writeString("TLegacyNumber");
    TInteger seven(7);
    seven.write(file);
    file.endWriteRecord();
  }
  THashtable classMap(true);
  classMap.put(new TString("TLegacyNumber"), new TString("TInteger"));
  TArrayList list;
  list.load(dir.file("legacy.dat"), &classMap);
  list.setOwner(true);
  ASSERT_EQ(list.size(), 1);
  EXPECT_EQ(list.get(0)->className(), "TInteger");
  EXPECT_EQ(intOf(list.get(0)), 7);

  THashtable emptyMap(true);
  EXPECT_EQ(messageOf<IOException>([&] { list.load(dir.file("legacy.dat"), &emptyMap); }),
            "TFile.readTPObject: (IOException) TFile.createTPObject: (InvalidKeyException) "
            "THashtable.get: Key: TLegacyNumber not found.");
}

