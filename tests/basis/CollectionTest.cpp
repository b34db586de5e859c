#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

#include "basis/TArrayList.h"
#include "basis/TFile.h"
#include "basis/THashSet.h"
#include "basis/TString.h"
#include "basis/TStringCollection.h"
#include "basis/TStringSet.h"
#include "basis/ValueObjects.h"
#include "tests/basis/CountedObject.h"
#include "tests/support/TempDir.h"
#include "tests/support/MessageOf.h"

namespace {

std::vector<int32_t> valuesOf(const TAbstractList& list) {
  std::vector<int32_t> values;
  for (int32_t i = 0; i < list.size(); ++i) values.push_back(as<TInteger>(list.get(i))->intValue());
  return values;
}

std::vector<int32_t> valuesOf(const THashSet& set) { return valuesOf(*set.toList()); }

// A text with one hash code for every text, which counts its comparisons.
class TSameCode : public TString {
  MORVANE_CLASS(TSameCode, TString)

  TSameCode() : TString(TBlank{}) { initialize(); }
  explicit TSameCode(const std::string& text) : TSameCode() { value = text; }
  int32_t hashCode() const override { return 1; }
  bool equals(const TMappedObject* obj) const override {
    ++comparisons;
    return TString::equals(obj);
  }

  static inline int comparisons = 0;
};


struct CollectionTest : ::testing::Test {
  void SetUp() override { TCounted::alive = 0; }
  void TearDown() override { EXPECT_EQ(TCounted::alive, 0) << "objects left alive after the test"; }
};

}  // namespace

// ---- TArrayList

TEST_F(CollectionTest, ListRejectsNilAndBadIndexes) {
  TArrayList list;
  TInteger one(1);
  EXPECT_EQ(messageOf<IllegalArgumentException>([&] { list.add(nullptr); }), "TArrayList.add: Object is nil.");
  list.add(&one);
  EXPECT_EQ(messageOf<IllegalArgumentException>([&] { list.update(0, nullptr); }),
            "TArrayList.update: Object is nil.");
  EXPECT_THROW(list.update(1, &one), std::out_of_range);
  EXPECT_THROW(list.remove(1), std::out_of_range);
  EXPECT_THROW(list.get(-1), std::out_of_range);
  EXPECT_THROW(list.move(0, 1), std::out_of_range);
  EXPECT_EQ(list.size(), 1);
}

TEST_F(CollectionTest, ListMovesAndRemovesByIdentity) {
  TInteger a(1), b(2), c(3), equalToA(1);
  TArrayList list;
  list.add(&a);
  list.add(&b);
  list.add(&c);
  list.move(0, 2);
  EXPECT_EQ(valuesOf(list), (std::vector<int32_t>{2, 3, 1}));
  list.move(2, 0);
  EXPECT_EQ(valuesOf(list), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_FALSE(list.contains(&equalToA));
  EXPECT_FALSE(list.remove(&equalToA)) << "an equal object is not the element";
  EXPECT_TRUE(list.remove(&a));
  EXPECT_EQ(valuesOf(list), (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(list.update(1, &a), &c) << "update hands back the replaced element";
}

TEST_F(CollectionTest, OwningListReleasesOnEveryRemovalPath) {
  {
    TArrayList list;
    list.setOwner(true);
    for (int i = 0; i < 5; ++i) list.add(new TCounted(i));
    TMappedObject* third = list.get(2);
    list.remove(0);
    EXPECT_EQ(TCounted::alive, 4);
    EXPECT_TRUE(list.remove(third));
    EXPECT_EQ(TCounted::alive, 3);
    std::unique_ptr<TMappedObject> replaced(list.update(0, new TCounted(9)));
    EXPECT_EQ(TCounted::alive, 4) << "update never releases";
    replaced.reset();
    list.clear();
    EXPECT_EQ(TCounted::alive, 0);
    list.add(new TCounted(1));
    list.add(new TCounted(2));
  }
  EXPECT_EQ(TCounted::alive, 0) << "destroying an owning list releases its elements";

  TCounted a(1), b(2);
  {
    TArrayList list;
    list.add(&a);
    list.add(&b);
    list.remove(0);
    list.clear();
    list.add(&a);
  }
  EXPECT_EQ(TCounted::alive, 2) << "a list that is no owner releases nothing";
}

TEST_F(CollectionTest, ListCloneDepthFollowsTheOwnerFlag) {
  TArrayList owning;
  owning.setOwner(true);
  owning.add(new TCounted(1));
  owning.add(new TCounted(2));
  std::unique_ptr<TArrayList> copy = cloneOf(owning);
  EXPECT_TRUE(copy->isOwner());
  EXPECT_EQ(valuesOf(*copy), (std::vector<int32_t>{1, 2}));
  EXPECT_NE(copy->get(0), owning.get(0)) << "an owning list's copy holds copies";
  EXPECT_EQ(TCounted::alive, 4);
  copy.reset();

  TCounted a(1);
  TArrayList sharing;
  sharing.add(&a);
  std::unique_ptr<TArrayList> shared = cloneOf(sharing);
  EXPECT_FALSE(shared->isOwner());
  EXPECT_EQ(shared->get(0), &a) << "a list without ownership shares its elements";
}

TEST_F(CollectionTest, ListObjectFileLayoutAndRoundTrip) {
  TempDir dir;
  TInteger five(5);
  TMappedObject plain;
  TArrayList list;
  list.add(&five);
  list.add(&plain);  // no TPObject: skipped
  list.store(dir.file("list.dat"));
  const unsigned char expected[] = {0x18, 0, 0, 0, 1, 0, 0, 0, 8, 0, 0, 0, 'T', 'I', 'n', 't',
                                    'e',  'g', 'e', 'r', 4, 0, 0, 0, 5, 0, 0, 0};
  EXPECT_EQ(TempDir::read(dir.file("list.dat")), std::string(reinterpret_cast<const char*>(expected), 28));

  TArrayList loaded;
  loaded.load(dir.file("list.dat"));
  EXPECT_FALSE(loaded.isOwner()) << "a list read from a file does not own its elements";
  loaded.setOwner(true);
  ASSERT_EQ(loaded.size(), 1);
  EXPECT_TRUE(loaded.get(0)->equals(&five));
}

TEST_F(CollectionTest, ReadingIntoAnOwningListReleasesItsOldElements) {
  TempDir dir;
  TInteger five(5);
  TArrayList one;
  one.add(&five);
  one.store(dir.file("one.dat"));
  TArrayList list;
  list.setOwner(true);
  list.add(new TCounted(1));
  list.load(dir.file("one.dat"));
  EXPECT_EQ(TCounted::alive, 0);
  list.setOwner(true);
}

TEST_F(CollectionTest, CorruptListCountsFailBeforeAllocating) {
  TempDir dir;
  // Record of 4 bytes claiming two billion elements.
  std::string path = dir.write("huge.dat", std::string("\x04\0\0\0\xff\xff\xff\x7f", 8));
  TArrayList list;
  EXPECT_THROW(list.load(path), IOException);
  path = dir.write("negative.dat", std::string("\x04\0\0\0\xff\xff\xff\xff", 8));
  EXPECT_THROW(list.load(path), IOException);
  EXPECT_EQ(list.size(), 0);

  // Two elements announced, one present: the first is released again.
  TInteger five(5);
  TArrayList one;
  one.add(&five);
  one.store(dir.file("one.dat"));
  std::string bytes = TempDir::read(dir.file("one.dat"));
  bytes[4] = 2;
  bytes += std::string("\x08\0\0\0TInteger", 12);
  bytes[0] = static_cast<char>(bytes.size() - 4);
  path = dir.write("short.dat", bytes);
  EXPECT_THROW(list.load(path), IOException);
  EXPECT_EQ(list.size(), 0);
}

// ---- THashSet

TEST_F(CollectionTest, SetGrowsWhenTheSeventeenthElementIsOffered) {
  THashSet set(true);
  for (int i = 0; i < 16; ++i) set.add(new TCounted(i));
  EXPECT_EQ(set.getCapacity(), 20);
  EXPECT_EQ(set.bucketCount(), 20);
  set.add(new TCounted(16));
  EXPECT_EQ(set.getCapacity(), 40);
  EXPECT_EQ(set.bucketCount(), 40);
  EXPECT_EQ(set.size(), 17);
  for (int i = 0; i < 17; ++i) {
    TCounted probe(i);
    EXPECT_TRUE(set.contains(&probe)) << i;
  }
  set.clear();
  EXPECT_EQ(set.bucketCount(), 40) << "clear keeps the grown capacity";
  EXPECT_TRUE(set.isEmpty());
}

TEST_F(CollectionTest, SmallCapacityKeepsTwentyBucketsUntilItGrows) {
  THashSet set(10, true, 0.5);
  EXPECT_EQ(set.getCapacity(), 10);
  EXPECT_EQ(set.bucketCount(), 20);
  for (int i = 0; i < 6; ++i) set.add(new TCounted(i));
  EXPECT_EQ(set.bucketCount(), 20);
  EXPECT_EQ(set.getCapacity(), 10);
  set.add(new TCounted(6));  // 6 / 10 = 0.6 > 0.5
  EXPECT_EQ(set.getCapacity(), 20);
  EXPECT_EQ(set.bucketCount(), 20);

  THashSet cleared(10, false, 0.5);
  cleared.clear();
  EXPECT_EQ(cleared.bucketCount(), 10);
}

TEST_F(CollectionTest, SetChecksLoadFactorAndCapacity) {
  const std::string loadMessage = "THashSet: The load factor must be a double between 0.1 and 1.";
  EXPECT_EQ(messageOf<IllegalArgumentException>([] { THashSet s(20, false, 0.05); }), loadMessage);
  EXPECT_EQ(messageOf<IllegalArgumentException>([] { THashSet s(20, false, 1.5); }), loadMessage);
  EXPECT_NO_THROW(THashSet(20, false, 0.1));
  EXPECT_NO_THROW(THashSet(20, false, 1.0));
  EXPECT_EQ(messageOf<IllegalArgumentException>([] { THashSet s(0, false, 0.5); }),
            "THashSet: The capacity must be bigger then 1.");
  THashSet one(1, true, 1.0);
  for (int i = 0; i < 5; ++i) one.add(new TCounted(i));
  EXPECT_EQ(one.size(), 5);
  EXPECT_EQ(one.getCapacity(), 4);  // 2 / 1 > 1, 3 / 2 > 1, 4 / 4 is not
}

TEST_F(CollectionTest, SetIteratesBucketByBucketInAddingOrder) {
  THashSet set(true);
  for (int v : {21, 1, 40, 0, 39}) set.add(new TInteger(v));
  // Buckets of 20: 0 -> {40, 0}, 1 -> {21, 1}, 19 -> {39}.
  EXPECT_EQ(valuesOf(set), (std::vector<int32_t>{40, 0, 21, 1, 39}));
  EXPECT_EQ(set.toStringCollection()->getText(), "40\r\n0\r\n21\r\n1\r\n39\r\n");
  for (int v = 100; v < 112; ++v) set.add(new TInteger(v));
  // The 17th element rebuilt 40 buckets, old buckets taken in order.
  EXPECT_EQ(set.bucketCount(), 40);
  std::vector<int32_t> order = valuesOf(set);
  EXPECT_EQ(std::vector<int32_t>(order.begin(), order.begin() + 3), (std::vector<int32_t>{40, 0, 1}));
}

TEST_F(CollectionTest, ElementsSharingAHashCodeKeepTheirOrderAndAreFoundDirectly) {
  THashSet set(true);
  for (int i = 0; i < 2000; ++i) set.add(new TSameCode("t" + std::to_string(i)));
  TSameCode::comparisons = 0;
  TSameCode found("t1500"), removed("t1000"), missing("t2000");
  EXPECT_NE(set.get(&found), nullptr);
  EXPECT_FALSE(set.contains(&missing));
  EXPECT_TRUE(set.remove(&removed));
  EXPECT_TRUE(set.add(new TSameCode("t1000")));
  EXPECT_LE(TSameCode::comparisons, 8) << "no comparison with every element of the same code";
  // One bucket in adding order; the element added again comes last.
  std::vector<std::string> texts = set.toStringCollection()->getStrings();
  ASSERT_EQ(texts.size(), 2000u);
  EXPECT_EQ(texts[999], "t999");
  EXPECT_EQ(texts[1000], "t1001");
  EXPECT_EQ(texts.back(), "t1000");
}

TEST_F(CollectionTest, MostNegativeHashCodeIndexesInsideTheBuckets) {
  THashSet set(true);
  auto* extreme = new TInteger(INT32_MIN);
  EXPECT_EQ(set.hashIndex(extreme), 8);  // 2147483648 mod 20
  set.add(extreme);
  TInteger probe(INT32_MIN);
  EXPECT_EQ(set.get(&probe), extreme);
  EXPECT_TRUE(set.remove(&probe));
  EXPECT_EQ(messageOf<IllegalArgumentException>([&] { set.hashIndex(nullptr); }), "THashSet: Given object is nil.");
  EXPECT_EQ(messageOf<IllegalArgumentException>([&] { set.contains(nullptr); }), "THashSet: Given object is nil.");
  EXPECT_EQ(messageOf<IllegalArgumentException>([&] { set.add(nullptr); }), "THashSet.add: Given object is nil.");
}

TEST_F(CollectionTest, SetOwnershipOnEveryRemovalPath) {
  {
    THashSet set(true);
    auto* one = new TCounted(1);
    set.add(one);
    set.add(new TCounted(2));
    set.add(new TCounted(3));
    TCounted probe(2);
    EXPECT_TRUE(set.remove(&probe)) << "a set removes the equal element";
    EXPECT_EQ(TCounted::alive, 3) << "the stored element is released, the probe is not";
    EXPECT_FALSE(set.add(new TCounted(1), true));
    EXPECT_EQ(TCounted::alive, 3) << "a refused element is released on request";
    EXPECT_FALSE(set.add(one, true));
    EXPECT_EQ(set.get(&probe), nullptr);
    EXPECT_EQ(TCounted::alive, 3) << "the stored element offered again survives";
    set.clear();
    EXPECT_EQ(TCounted::alive, 1);
    set.add(new TCounted(4));
  }
  EXPECT_EQ(TCounted::alive, 0);

  TCounted a(1), b(2);
  {
    THashSet set;
    set.add(&a);
    set.add(&b);
    TCounted probe(1);
    EXPECT_TRUE(set.remove(&probe));
    set.clear();
    set.add(&b);
  }
  EXPECT_EQ(TCounted::alive, 2) << "a set that is no owner releases nothing";
}

TEST_F(CollectionTest, SetEqualityIsContainmentAndHashIsTheSum) {
  TInteger a(1), b(2), c(INT32_MAX);
  THashSet big, small;
  big.add(&a);
  big.add(&b);
  big.add(&c);
  small.add(&b);
  EXPECT_TRUE(big.equals(&small)) << "sizes are not compared";
  EXPECT_FALSE(small.equals(&big));
  EXPECT_FALSE(big.equals(nullptr));
  EXPECT_FALSE(big.equals(&a));
  EXPECT_EQ(big.hashCode(), static_cast<int32_t>(1u + 2u + static_cast<uint32_t>(INT32_MAX)));
  TArrayList list;
  EXPECT_TRUE(small.containsAll(list));
  list.add(&a);
  EXPECT_FALSE(small.containsAll(list));
  EXPECT_TRUE(big.containsAll(list));
}

TEST_F(CollectionTest, SetCloneDepthFollowsTheOwnerFlag) {
  THashSet owning(10, true, 0.5);
  owning.add(new TCounted(1));
  owning.add(new TCounted(2));
  std::unique_ptr<THashSet> copy = cloneOf(owning);
  EXPECT_EQ(copy->className(), "THashSet");
  EXPECT_TRUE(copy->isOwner());
  EXPECT_EQ(copy->getCapacity(), 10);
  EXPECT_DOUBLE_EQ(copy->getLoadFactor(), 0.5);
  EXPECT_EQ(TCounted::alive, 4);
  TCounted one(1);
  EXPECT_NE(copy->get(&one), nullptr);
  EXPECT_NE(copy->get(&one), owning.get(&one));
  copy.reset();

  TCounted a(1);
  THashSet sharing;
  sharing.add(&a);
  std::unique_ptr<THashSet> shared = cloneOf(sharing);
  EXPECT_EQ(shared->get(&a), &a);

  TStringSet strings;
  strings.add("x");
  std::unique_ptr<TMappedObject> stringCopy = strings.clone();
  EXPECT_EQ(stringCopy->className(), "TStringSet");
  EXPECT_TRUE(as<TStringSet>(stringCopy.get())->isOwner());
  EXPECT_TRUE(as<TStringSet>(stringCopy.get())->contains("x"));
}

TEST_F(CollectionTest, SetObjectFileRoundTripReleasesStoredDuplicates) {
  TempDir dir;
  THashSet set(true);
  for (int v : {3, 23, 7}) set.add(new TInteger(v));
  set.store(dir.file("set.dat"));
  std::string bytes = TempDir::read(dir.file("set.dat"));
  EXPECT_EQ(bytes.substr(4, 14), std::string("\x0a\0\0\0TArrayList", 14));

  THashSet loaded;
  loaded.load(dir.file("set.dat"));
  loaded.setOwner(true);
  EXPECT_EQ(valuesOf(loaded), (std::vector<int32_t>{3, 23, 7}));
  EXPECT_TRUE(loaded.equals(&set) && set.equals(&loaded));

  // A stored list with an element twice: the second copy is released.
  TInteger four(4), alsoFour(4);
  TArrayList twice;
  twice.add(&four);
  twice.add(&alsoFour);
  {
    TFile file(dir.file("dup.dat"), true, "");
    file.beginWriteRecord(true, false);
    file.writeTPObject(twice);
    file.endWriteRecord();
  }
  THashSet deduplicated(true);
  deduplicated.load(dir.file("dup.dat"));
  EXPECT_EQ(deduplicated.size(), 1);

  // A set record that holds no list is refused.
  TInteger notAList(1);
  {
    TFile file(dir.file("bad.dat"), true, "");
    file.beginWriteRecord(true, false);
    file.writeTPObject(notAList);
    file.endWriteRecord();
  }
  EXPECT_THROW(deduplicated.load(dir.file("bad.dat")), IOException);
}

// ---- TStringSet and string lists from sets

TEST_F(CollectionTest, StringSetKeepsOneCopyOfEachText) {
  TStringSet set;
  EXPECT_TRUE(set.isOwner());
  EXPECT_TRUE(set.add("b"));
  EXPECT_FALSE(set.add("b"));
  EXPECT_EQ(set.size(), 1);
  set.add("A");
  set.add("c");
  EXPECT_TRUE(set.contains("A"));
  EXPECT_FALSE(set.contains("a")) << "membership is case-sensitive";
  EXPECT_EQ(set.toSortedStringCollection()->getText(), "A\r\nb\r\nc\r\n");
  EXPECT_TRUE(set.remove("b"));
  EXPECT_FALSE(set.remove("b"));

  TStringCollection strings("x\ny\nx");
  TStringSet fromStrings(strings);
  EXPECT_EQ(fromStrings.size(), 2);
  THashSet mixed;
  TInteger seven(7);
  mixed.add(&seven);
  fromStrings.addAll(mixed);
  EXPECT_TRUE(fromStrings.contains("7"));
}

TEST_F(CollectionTest, SortedStringsIgnoreCaseAndPutPunctuationFirst) {
  TStringSet set;
  for (const char* s : {"delta", "Bravo", "_x", "alpha", "Charlie", "ALPHA"}) set.add(s);
  std::unique_ptr<TStringCollection> sorted = set.toSortedStringCollection();
  ASSERT_EQ(sorted->size(), 6);
  EXPECT_EQ(sorted->get(0), "_x");
  EXPECT_EQ(TString::compareIgnoreCase(sorted->get(1), "alpha"), 0);
  EXPECT_EQ(TString::compareIgnoreCase(sorted->get(2), "alpha"), 0);
  EXPECT_EQ(sorted->get(3), "Bravo");
  EXPECT_EQ(sorted->get(4), "Charlie");
  EXPECT_EQ(sorted->get(5), "delta");
}

TEST_F(CollectionTest, StringCollectionFromASetTakesOnlyStrings) {
  TString b("b"), a("a");
  TInteger one(1);
  THashSet set;
  set.add(&b);
  set.add(&one);
  set.add(&a);
  TStringCollection strings(&set);
  EXPECT_EQ(strings.getText(), "a\r\nb\r\n");  // bucket 17 (a = 97), then 18 (b = 98)
  EXPECT_EQ(messageOf<IllegalArgumentException>([] { TStringCollection none(static_cast<const THashSet*>(nullptr)); }),
            "TStringCollection.<init>: HashSet mustn't be nil.");
}

TEST_F(CollectionTest, CollectionsRefuseXml) {
  TArrayList list;
  QDomDocument document;
  EXPECT_EQ(messageOf<IllegalStateException>([&] { list.toXML(document); }), "TArrayList.toXML not implemented!");
  THashSet set;
  EXPECT_EQ(messageOf<IllegalStateException>([&] { set.fromXML(document); }), "THashSet.fromXML not implemented!");
}

TEST_F(CollectionTest, ListPrintsItsNameItsElementsAndAnEmptyLine) {
  TempDir dir;
  TInteger one(1);
  TString text("two");
  TMappedObject plain;
  TArrayList list;
  list.add(&one);
  list.add(&plain);
  list.add(&text);
  list.print(dir.file("list.txt"));
  EXPECT_EQ(TempDir::read(dir.file("list.txt")), "TArrayList\r\n1\r\ntwo\r\n\r\n");
}
