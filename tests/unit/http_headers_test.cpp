// Response header lines into the headers map of an HTTP answer.
#include <string>

#include "datatypes/map.h"
#include "interpreter_fixture.h"
#include "io/http.h"
#include "molded.h"
#include "runtime/unicode.h"

namespace zuv::test {
namespace {

class HttpHeaders : public InterpreterTest {
public:
    // The map the lines make, molded on one line.
    static std::string parsed(const std::string& lines) {
        cell_t* map = stack::push_slot();
        cell::begin(map);
        map::make_at(map, nullptr, 20);
        simple_io::parse_headers(lines.data(), lines.size(), map);
        std::string text = zuv::test::molded(map, {.flat = true});
        stack::pop(1);
        return text;
    }
};

TEST_F(HttpHeaders, ValuesStartAfterTheColonAndBlanks) {
    struct {
        const char* lines;
        const char* expected;
    } cases[] = {
        {"X-A: 1\r\n", "#[X-A: \"1\"]"},
        {"X-A:1\r\n", "#[X-A: \"1\"]"},
        {"X-A:\t  1 2\r\n", "#[X-A: \"1 2\"]"},
        {"X-A:\r\n", "#[X-A: \"\"]"},
        {"X-A: 1\n", "#[X-A: \"1\"]"},  // LF alone ends a line too
        {"X-A: 1", "#[X-A: \"1\"]"},  // the last line needs no end
        {"X-A: a:b\r\n", "#[X-A: \"a:b\"]"},  // the first colon ends the name
        {"\r\nno colon\r\n: x\r\n", "#[]"},  // blank, colon-less and nameless lines
        {"X-A: caf\xc3\xa9\r\n", "#[X-A: \"caf\xc3\xa9\"]"},
        // Bytes that are not UTF-8 are Latin-1 (obs-text), in a value or a
        // name, a byte cut off a UTF-8 character too; nothing is dropped.
        {"X-A: caf\xe9\r\n", "#[X-A: \"caf\xc3\xa9\"]"},
        {"X-\xc9: 1\r\n", "#[X-\xc3\x89: \"1\"]"},
        {"X-A: \xc3\r\n", "#[X-A: \"\xc3\x83\"]"},
    };
    for (auto& c : cases) EXPECT_EQ(parsed(c.lines), c.expected) << c.lines;
}

TEST_F(HttpHeaders, RepeatedNamesGatherTheirValuesInOrder) {
    EXPECT_EQ(parsed("X-D: 1\r\nY: y\r\nx-d: 2\r\nX-D: 3\r\n"),
              "#[X-D: [\"1\" \"2\" \"3\"] Y: \"y\"]");
}

}  // namespace
}  // namespace zuv::test
