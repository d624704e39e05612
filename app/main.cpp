#include "gui/BorvaneApplication.h"
#include "gui/Glyphs.h"
#include "gui/window/TEditorForBorvane5_Form1.h"

#include <exception>

int main(int argc, char** argv)
{
    // The layout is in pixels and is not scaled to the screen's pixel density.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    BorvaneApplication app(argc, argv);
    try {
        BorvaneApplication::setApplicationName(QStringLiteral("EditorForBorvane5"));
        BorvaneApplication::setApplicationVersion(QStringLiteral("1.3"));
        BorvaneApplication::setWindowIcon(Glyphs::applicationIcon());
        TEditorForBorvane5_Form1 window;
        window.show();
        BorvaneApplication::exec();
    } catch (const std::exception& exception) {
        BorvaneApplication::showException(&exception);
    } catch (...) {
        BorvaneApplication::showException(nullptr);
    }
    return 0;
}
