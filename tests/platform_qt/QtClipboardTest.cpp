#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "QtClipboard.h"
#include "VektBase.h"

namespace {

// One application object for the suite: the clipboard lives in it.
QGuiApplication& App() {
    static int argc = 1;
    static char name[] = "test_clipboard_qt";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return app;
}

} // namespace

TEST(QtClipboard, ControlsTravelThroughTheSystemClipboard) {
    App();
    TQtClipboard clipboard;
    IClipboard* previous = SetClipboard(&clipboard);

    TVektPanel source;
    TVektControl* door =
        TVektControl::New<TVektGroup>(&source, source.ActiveLayer(), source.ActiveScheme());
    door->SetName("Door");
    ASSERT_TRUE(source.Select(door));
    ASSERT_TRUE(source.CopyToClipboard());

    // What another program would find under the registered format's name.
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    QByteArray bytes = mime->data(
        QString::fromStdString(TQtClipboard::MimeTypeOf(TVektPanel::ControlsClipboardFormat)));
    EXPECT_TRUE(bytes.startsWith("clipboard\r\n  object Door: TVektGroup\r\n"));

    TVektPanel target;
    EXPECT_TRUE(target.CanPaste(true));
    ASSERT_TRUE(target.PasteFromClipboard(true));
    ASSERT_EQ(target.ActiveScheme()->Count(), 1);
    EXPECT_EQ(target.ActiveScheme()->Controls(0)->Name(), "Door");

    // Plain text replaces the controls.
    clipboard.SetText("Varasto");
    EXPECT_FALSE(clipboard.HasFormat(TVektPanel::ControlsClipboardFormat));
    EXPECT_TRUE(clipboard.HasText());
    EXPECT_EQ(clipboard.GetText(), "Varasto");
    EXPECT_FALSE(target.PasteFromClipboard(false));
    SetClipboard(previous);
}
