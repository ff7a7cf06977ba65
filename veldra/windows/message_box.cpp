#include "veldra/windows/message_box.h"

#include "veldra/windows/night_mode.h"

void ShowMessageBox(QWidget* owner, const std::string& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, kMessageBoxTitle, QString::fromStdString(text), QMessageBox::Ok, owner);
    box.setObjectName("messageBox");
    if (NightModeOn()) // the theme's icons are yellow, blue or white
        box.setIconPixmap(NightTinted(box.iconPixmap()));
    box.exec();
}
