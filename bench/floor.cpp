// The least a Qt Widgets client can do before it talks to the agent: show a
// window and, 50 ms after it is first shown, open the WebSocket and send one
// request. The start-up benchmark measures the real client against this.
#include "configsender.h"

#include <QApplication>
#include <QLabel>

class FloorWindow : public QLabel
{
public:
    FloorWindow()
        : QLabel(QStringLiteral("floor"))
    {
    }

protected:
    void showEvent(QShowEvent *event) override
    {
        QLabel::showEvent(event);
        sender.windowShown();
    }

private:
    ConfigSender sender;
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FloorWindow window;
    window.resize(320, 200);
    window.show();
    return app.exec();
}
