// Reading and writing a text gadget's text through the temporary string area.

#include "tests/toolkit/gadget/gadget_fixture.h"

TEST_F(GadgetFixture, GetTextEndsTheAreaExactlyBehindTheText)
{
    struct Case {
        const char* name;
        std::u16string text;
        uint32_t bytes;
    };
    const Case cases[] = {
        {"three letters", u"abc", 6},
        {"empty", u"", 0},
        {"supplementary plane", u"a\U0001F600b\U00010348", 12},
        {"two lines", u"one\r\ntwo", 16},
    };
    create_text(1, ES_MULTILINE);
    string_push_copy(u"earlier result");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gadget_set_text(1, c.text.c_str());
        uint32_t saved = string_offset();
        gadget_get_text(1, saved);
        EXPECT_EQ(string_offset() - saved, c.bytes);
        unit16* variable = nullptr;
        string_assign(&variable, saved);
        EXPECT_TRUE(variable && c.text == variable) << "read back: " << narrow(variable ? variable : u"");
        EXPECT_EQ(string_offset(), saved);
        string_free(variable);
    }
}

TEST_F(GadgetFixture, GetTextYieldsEmptyWhenTheAreaCannotGrow)
{
    create_text(1, ES_MULTILINE);
    // Longer than anything the area held so far, so reading must grow it.
    gadget_set_text(1, std::u16string(100000, u'x').c_str());
    uint32_t saved = string_offset();
    heap_fail_next(1);
    EXPECT_EQ(gadget_get_text(1, saved), 0);
    heap_fail_next(0);
    EXPECT_EQ(string_offset(), saved);
    unit16* variable = nullptr;
    string_assign(&variable, saved);
    EXPECT_EQ(narrow(variable ? variable : u"?"), "");
    string_free(variable);
}

TEST_F(GadgetFixture, SetTextWritesWholeTextAndNullEmpties)
{
    create_text(1, ES_MULTILINE);
    // Longer than the Edit control's default typing limit: a program's own
    // text is never cut.
    std::u16string long_text;
    for (int i = 0; i < 40000; ++i)
        long_text += static_cast<char16_t>(u'a' + i % 26);
    gadget_set_text(1, long_text.c_str());
    EXPECT_EQ(text_of(1).size(), long_text.size());
    EXPECT_TRUE(text_of(1) == long_text);

    gadget_set_text(1, nullptr);
    EXPECT_EQ(GetWindowTextLengthW(gadget_handle(1)), 0);
    EXPECT_EQ(narrow(text_of(1)), "");
}
