// GoogleTest with a QApplication: the wizard's pages need one. Offscreen unless
// told otherwise, so the tests (and their discovery) run without a display.
#include <QApplication>
#include <gtest/gtest.h>

namespace {

QtMessageHandler standardHandler = nullptr;

// The offscreen platform says this for every sheet it shows; nothing to see.
void QuietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!message.contains(QLatin1String("propagateSizeHints")) && standardHandler)
        standardHandler(type, context, message);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    standardHandler = qInstallMessageHandler(QuietHandler);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
