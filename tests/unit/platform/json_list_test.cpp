// A document whose last list is written item by item reads as the whole.
#include <gtest/gtest.h>

#include "platform/json.h"

namespace {

TEST(JsonListWriter, GivesTheBytesOfTheWholeDocument) {
  for (size_t count : {0, 1, 3}) {
    Json head = Json::object();
    head["directory"] = "/opt/t";
    head["counts"] = Json::object();
    head["counts"]["add"] = count;
    head["empty"] = Json::array();
    head["files"] = Json::array();
    Json whole = head;
    std::string text;
    JsonListWriter list(head, [&text](const std::string& piece) { text += piece; });
    for (size_t i = 0; i < count; ++i) {
      Json item = Json::object();
      item["name"] = "a\nb" + std::to_string(i);
      item["nested"] = Json::array({1, Json::object({{"x", i}})});
      list.item(item);
      whole["files"].push_back(item);
    }
    list.end();
    EXPECT_EQ(text, json_document(whole) + "\n") << count;
  }
}

}  // namespace
