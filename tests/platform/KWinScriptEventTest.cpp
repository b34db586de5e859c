// The events of Morvane's KWin script: each kind read and applied to the
// list, and anything malformed refused as Invalid, leaving the list alone.
#include <gtest/gtest.h>

#include <QByteArray>
#include <string>

#include "platform/windows/KWinScriptEvent.h"
#include "platform/windows/LiveWindowList.h"

namespace {

std::string titles(const LiveWindowList& list) {
  std::string out;
  list.enumerate(
      256,
      [](WindowSource::WindowId, std::string_view title, uintptr_t value) {
        *reinterpret_cast<std::string*>(value) += std::string(title) + ";";
        return true;
      },
      reinterpret_cast<uintptr_t>(&out));
  return out;
}

}  // namespace

TEST(KWinScriptEventTest, ReadsEachKindAndAppliesItToTheList) {
  LiveWindowList list;
  const KWinScriptEvent all =
      KWinScriptEvent::parse(R"({"k": 7, "e": "list", "w": [["{1}", "Mail"], ["{2}", 5], ["{3}", "Dial-up"]]})");
  ASSERT_EQ(all.kind, KWinScriptEvent::Kind::List);
  EXPECT_EQ(all.token, 7);
  EXPECT_EQ(all.windows.size(), 2u);  // the entry without a text title is left out
  EXPECT_TRUE(all.applyTo(list));
  EXPECT_EQ(titles(list), "Dial-up;Mail;");

  const KWinScriptEvent opened = KWinScriptEvent::parse(R"({"k": 7, "e": "open", "id": "{4}", "t": "Editor"})");
  ASSERT_EQ(opened.kind, KWinScriptEvent::Kind::Open);
  EXPECT_TRUE(opened.applyTo(list));
  const KWinScriptEvent retitled =
      KWinScriptEvent::parse(R"({"k": 7, "e": "title", "id": "{3}", "t": "Dial-up status"})");
  ASSERT_EQ(retitled.kind, KWinScriptEvent::Kind::Title);
  EXPECT_TRUE(retitled.applyTo(list));
  const KWinScriptEvent closed = KWinScriptEvent::parse(R"({"k": 7, "e": "close", "id": "{1}"})");
  ASSERT_EQ(closed.kind, KWinScriptEvent::Kind::Close);
  EXPECT_TRUE(closed.applyTo(list));
  EXPECT_FALSE(closed.applyTo(list));
  EXPECT_EQ(titles(list), "Editor;Dial-up status;");
}

TEST(KWinScriptEventTest, RefusesMalformedEventsWithoutTouchingTheList) {
  LiveWindowList list;
  list.open("{1}", "Mail");
  for (const char* json : {
           "not json",
           R"({"e": "close", "id": "{1}"})",                           // no token
           R"({"k": -1, "e": "close", "id": "{1}"})",                  // a token is never negative
           R"({"k": 1e30, "e": "close", "id": "{1}"})",                // nor beyond a long long
           R"({"k": 1, "e": "list", "w": {"{1}": "Mail"}})",           // the list is an array
           R"({"k": 1, "e": "close", "id": ""})",                      // an empty id
           R"({"k": 1, "e": "close", "id": 1})",                       // an id is a string
           R"({"k": 1, "e": "open", "id": "{2}"})",                    // an open needs a title
           R"({"k": 1, "e": "title", "id": "{1}", "t": ["Dial-up"]})",  // a title is a string
           R"({"k": 1, "e": "minimize", "id": "{1}"})",                // an unknown kind
       }) {
    const KWinScriptEvent event = KWinScriptEvent::parse(json);
    EXPECT_EQ(event.kind, KWinScriptEvent::Kind::Invalid) << json;
    EXPECT_FALSE(event.applyTo(list)) << json;
  }
  EXPECT_EQ(titles(list), "Mail;");
}
