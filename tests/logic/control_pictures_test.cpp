// The control pictures of the pane's layout: the control characters without a name in the pane
// (0x07 to 0x0C, 0x0E to 0x1F, DEL) are drawn as their U+2400 pictures in the picture's width;
// their text stays the real character. The named ones keep their names, the other characters
// are drawn as ever.
#include <gtest/gtest.h>

#include "core/receive/PaneLayout.h"

using namespace trelmo;
using Kind = PaneModel::Kind;
using Width = PaneLayout::Width;
using Look = PaneLayout::Look;

namespace {

Width advance(char16_t c) {
    if (c >= 0x2400 && c <= 0x2426)
        return 9 * 64 + (c - 0x2400);  // pictures differ in width from each other and a blank
    return 64 + (c % 7) * 8;
}

// Every glyph of line 0 with its x, the line as wide as the layout allows.
PaneLayout::Visible shownLine(const PaneLayout& layout) {
    PaneLayout::Visible shown;
    layout.visible(0, 0, 100000 * 64, shown);
    return shown;
}

}  // namespace

TEST(ControlPictures, NamelessControlsAreDrawnAsTheirPictures) {
    EXPECT_EQ(PaneLayout::controlPicture(0x07), 0x2407);
    EXPECT_EQ(PaneLayout::controlPicture(0x09), 0x2409);
    EXPECT_EQ(PaneLayout::controlPicture(0x1B), 0x241B);
    EXPECT_EQ(PaneLayout::controlPicture(0x1F), 0x241F);
    EXPECT_EQ(PaneLayout::controlPicture(0x7F), 0x2421);
    for (int c = 0; c < 0x100; ++c) {
        const bool named = c <= 6 || c == 13;  // (10 breaks the line and is never shown)
        const bool control = c < 0x20 || c == 0x7F;
        EXPECT_EQ(PaneLayout::hasControlPicture(static_cast<char16_t>(c)), control && !named) << c;
    }

    PaneModel model;
    int index = 0;
    const QByteArray bytes("a\x07\t\x0B\x0C\x0E\x1B[1m\x1F\x7F\x81\x02z", 15);
    model.appendReceived(index, Kind::Text, bytes);
    PaneLayout layout;
    layout.setAdvance(advance);
    layout.setModel(&model);
    const Width space = advance(u' ');

    // The text is the real characters.
    const QString text = model.line(0);
    EXPECT_EQ(text, QString::fromLatin1("a\x07\t\x0B\x0C\x0E\x1B[1m\x1F\x7F", 12) + QChar(0x81) +
                        QStringLiteral("<STX>z"));
    const PaneLayout::Visible shown = shownLine(layout);
    ASSERT_EQ(shown.glyphs.size(), size_t(text.size()));
    Width x = 0;
    int pictures = 0;
    for (size_t i = 0; i < shown.glyphs.size(); ++i) {
        const char16_t c = text[qsizetype(i)].unicode();
        const PaneLayout::Glyph& g = shown.glyphs[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(g.c, c);
        EXPECT_EQ(g.x, x);
        if ((c >= 0x07 && c <= 0x0C) || (c >= 0x0E && c <= 0x1F) || c == 0x7F) {
            EXPECT_EQ(g.look, Look::Picture);
            x += advance(c == 0x7F ? char16_t(0x2421) : char16_t(0x2400 + c));
            ++pictures;
        } else if (c == 0x81) {
            EXPECT_EQ(g.look, Look::Blank);  // a C1 control has no picture
            x += space;
        } else {
            EXPECT_EQ(g.look, Look::Shown);
            x += advance(c);
        }
    }
    EXPECT_EQ(pictures, 8);
    EXPECT_EQ(layout.lineWidth(0), x);
    EXPECT_EQ(shown.end, x);
    EXPECT_EQ(layout.unitWidth(Kind::Text, '\t'), advance(0x2409));
    EXPECT_EQ(layout.unitWidth(Kind::Text, 0x7F), advance(0x2421));
    EXPECT_EQ(layout.charWidth(0x1B), advance(0x241B));
    // Hit testing and columns follow the pictures' widths.
    const Width atEscape = layout.xOfColumn(0, 6);
    EXPECT_EQ(atEscape, shown.glyphs[6].x);
    EXPECT_EQ(layout.columnAt(0, atEscape), 6);
    EXPECT_EQ(layout.columnAt(0, atEscape + advance(0x241B) - 64), 7);
}

TEST(ControlPictures, NamedControlsKeepTheirNames) {
    // Bytes 0 to 6 and 13 are shown by their names in text mode, as ever: no picture.
    PaneModel model;
    int index = 0;
    model.appendReceived(index, Kind::Text, QByteArrayView("\x00\x01\x02\x03\x04\x05\x06\r", 8));
    const QString names = QStringLiteral("<NUL><SOH><STX><ETX><EOT><ENQ><ACK><CR>");
    EXPECT_EQ(model.line(0), names);
    PaneLayout layout;
    layout.setAdvance(advance);
    layout.setModel(&model);
    const PaneLayout::Visible shown = shownLine(layout);
    ASSERT_EQ(shown.glyphs.size(), size_t(names.size()));
    Width x = 0;
    for (size_t i = 0; i < shown.glyphs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(shown.glyphs[i].look, Look::Shown);
        EXPECT_EQ(shown.glyphs[i].c, names[qsizetype(i)].unicode());
        EXPECT_EQ(shown.glyphs[i].x, x);
        x += advance(names[qsizetype(i)].unicode());
    }
    EXPECT_EQ(layout.lineWidth(0), x);
    // In hex the controls are their hex texts (or, with names, their names): no picture.
    model.clear();
    index = 0;
    model.appendReceived(index, Kind::HexEvery, QByteArrayView("\x07\x1B\x7F", 3));
    model.appendReceived(index, Kind::HexNamed, QByteArrayView("\x01\x1B", 2));
    EXPECT_EQ(model.line(0), QStringLiteral("0x07 0x1B 0x7F <SOH>0x1B "));
    for (const PaneLayout::Glyph& g : shownLine(layout).glyphs)
        EXPECT_NE(g.look, Look::Picture) << int(g.c);
}
