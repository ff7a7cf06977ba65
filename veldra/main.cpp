// veldra: the main window in the program's own folder, where "veldra.ini" and
// "debug.txt" live.
#include "veldra/settings/file_utils.h"
#include "veldra/windows/main/form_main.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    // The chart and setup windows close with the main window; the program ends with it.
    formMain window(ProgramFolder());
    window.Load();
    return app.exec();
}
