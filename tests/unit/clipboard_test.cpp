// The in-process clipboard at the C++ level: refused values raise and leave
// what was there.
#include <string>

#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "io/clipboard.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "runtime_fixture.h"

namespace zuv::testing {
namespace {

class Clipboard : public Runtime {};

TEST_F(Clipboard, RefusesAnIntegerAndKeepsTheText) {
    const std::string text = "a\nb";
    cell_t* s = string::load(reinterpret_cast<const uint8_t*>(text.data()),
                             static_cast<int64_t>(text.size()), string::ENCODING_UTF8);
    ASSERT_TRUE(clipboard::write(s));
    cell_t n;
    integer::make_at(&n, 5);
    EXPECT_EQ(raised_clearing_stacks([&] { clipboard::write(&n); }), err::invalid_arg);
    cell_t* got = clipboard::read();
    ASSERT_EQ(type_of(got), TYPE_string);
    EXPECT_EQ(unicode::to_utf8(got), text);
}

}  // namespace
}  // namespace zuv::testing
