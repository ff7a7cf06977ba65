#pragma once
// Receives the guider messages veldra broadcasts on the D-Bus session bus
// (path "/", interface "org.veldra.WindowMessage", member = message name, (int32, int32)).
#include <QObject>
#include <functional>
#include <string>

class GuiderListener : public QObject {
    Q_OBJECT
  public:
    using Handler = std::function<void(const std::string& name, int wParam, int lParam)>;
    explicit GuiderListener(Handler handler);
    // Connects to the session bus; false when there is none.
    bool Connect();

  public slots:
    void onSetShift(int wParam, int lParam);
    void onShift(int wParam, int lParam);
    void onUnShift(int wParam, int lParam);
    void onSimulatorSetShift(int wParam, int lParam);

  private:
    Handler handler_;
};
