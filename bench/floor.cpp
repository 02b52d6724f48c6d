// The least a Qt Widgets client can do before it talks to the agent: show a
// window and, 50 ms after it is first shown, open the WebSocket and send one
// request. The start-up benchmark measures the real client against this.
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QTimer>
#include <QWebSocket>

class FloorWindow : public QLabel
{
public:
    FloorWindow()
        : QLabel(QStringLiteral("floor"))
    {
        connect(&socket, &QWebSocket::connected, this, [this] {
            const QJsonObject request{{QStringLiteral("id"), 1},
                                      {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                      {QStringLiteral("method"), QStringLiteral("config")},
                                      {QStringLiteral("params"), QJsonObject()}};
            socket.sendBinaryMessage(QJsonDocument(request).toJson(QJsonDocument::Compact));
        });
    }

protected:
    void showEvent(QShowEvent *event) override
    {
        QLabel::showEvent(event);
        if (shown)
            return;
        shown = true;
        QTimer::singleShot(50, this, [this] { socket.open(QUrl(QStringLiteral("ws://127.0.0.1:6210/rpc"))); });
    }

private:
    QWebSocket socket;
    bool shown = false;
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    FloorWindow window;
    window.resize(320, 200);
    window.show();
    return app.exec();
}
