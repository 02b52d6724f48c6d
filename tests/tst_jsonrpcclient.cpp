#include "fakeagent.h"
#include "jsonrpcwebsocketclient.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>

#include <memory>

namespace {

// A bare WebSocket server for what FakeAgent does not show: the server-side
// socket itself (handshake headers) and a graceful close.
class RawServer : public QObject
{
public:
    RawServer()
        : server(QStringLiteral("raw"), QWebSocketServer::NonSecureMode)
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket *socket = server.nextPendingConnection()) {
                socket->setParent(this);
                sockets.append(socket);
            }
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(server.serverPort())); }

    QWebSocketServer server;
    QList<QWebSocket *> sockets;
};

// A WebSocket peer spoken by hand on a TCP socket, to see the raw frames the
// client sends (QWebSocket reports code 1000 even when no close frame came).
class HandshakePeer : public QObject
{
public:
    HandshakePeer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            // The newest link is the one spoken on.
            socket = server.nextPendingConnection();
            buffer.clear();
            handshakeDone = false;
            ++connections;
            connect(socket, &QTcpSocket::readyRead, this, [this, current = socket] {
                if (current == socket)
                    onData();
            });
        });
    }
    QUrl url() const { return QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(server.serverPort())); }

    // One unmasked frame from the agent's side, payload under 64 KiB.
    void sendFrame(quint8 opcode, const QByteArray &payload)
    {
        QByteArray frame(1, char(0x80 | opcode));
        if (payload.size() < 126) {
            frame += char(payload.size());
        } else {
            frame += char(126);
            frame += char(payload.size() >> 8);
            frame += char(payload.size() & 0xff);
        }
        socket->write(frame + payload);
    }

    int connections = 0;

    // Payloads of the close frames received so far.
    QList<QByteArray> closeFrames;

private:
    void onData()
    {
        buffer += socket->readAll();
        if (!handshakeDone) {
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end < 0)
                return;
            QByteArray key;
            for (const QByteArray &line : buffer.left(end).split('\n')) {
                if (line.toLower().startsWith("sec-websocket-key:"))
                    key = line.mid(18).trimmed();
            }
            const QByteArray accept = QCryptographicHash::hash(QByteArray(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"),
                                                               QCryptographicHash::Sha1)
                                          .toBase64();
            socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                          "Sec-WebSocket-Accept: "
                          + accept + "\r\n\r\n");
            buffer.remove(0, end + 4);
            handshakeDone = true;
        }
        // Client frames: short payloads only, always masked.
        while (buffer.size() >= 6) {
            const int opcode = buffer.at(0) & 0x0f;
            const int length = buffer.at(1) & 0x7f;
            if (length > 125 || buffer.size() < 6 + length)
                return;
            QByteArray payload = buffer.mid(6, length);
            for (int i = 0; i < length; ++i)
                payload[i] = char(payload.at(i) ^ buffer.at(2 + i % 4));
            buffer.remove(0, 6 + length);
            if (opcode == 0x8) {
                closeFrames.append(payload);
                // The closing handshake ends with the connection.
                socket->disconnectFromHost();
                return;
            }
        }
    }

    QTcpServer server;
    QTcpSocket *socket = nullptr;
    QByteArray buffer;
    bool handshakeDone = false;
};

// Collects every value a callback receives.
struct Recorder
{
    QList<QJsonValue> values;
    ReplyCallback callback()
    {
        return [this](const QJsonValue &value) { values.append(value); };
    }
};

QJsonValue parse(const char *json)
{
    return QJsonDocument::fromJson(json).object().value(QLatin1String("v"));
}

SoftwareInfo sampleRecord()
{
    SoftwareInfo info;
    info.name = QStringLiteral("记事本");
    info.version = QStringLiteral("11.2");
    info.publisher = QStringLiteral("Contoso");
    info.installPath = QStringLiteral("C:/Program Files/Notes");
    info.executablePath = QStringLiteral("C:/Program Files/Notes/notes.exe");
    info.uninstallString = QStringLiteral("C:/Program Files/Notes/uninstall.exe /S");
    info.installDate = QStringLiteral("2024-03-05");
    info.fileSize = 5000000000LL;
    info.fileHashMd5 = QStringLiteral("d41d8cd98f00b204e9800998ecf8427e");
    info.digitalSigner = QStringLiteral("Contoso Ltd");
    info.processName = QStringLiteral("notes.exe");
    info.portList = QStringLiteral("80,443");
    return info;
}

} // namespace

class TestJsonRpcClient : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requestIsOneCompactBinaryFrame_data();
    void requestIsOneCompactBinaryFrame();
    void dispatchesByIdToFirstCallback_data();
    void dispatchesByIdToFirstCallback();
    void firstRegisteredCallbackKeepsItsId();
    void requestBeforeConnectIsDropped();
    void agentNotListeningReportsError();
    void gracefulCloseReportsDisconnected();
    void callbackRegistersAndSendsDuringItsOwnCall();
    void destructionClosesWithNormalCode();
    void oversizedMessageIsDropped_data();
    void oversizedMessageIsDropped();
    void repeatedOversizedMessagesSlowTheReopening();
    void invalidTextIsDropped();

    void reportPayloadCarriesEveryKey();
    void reportingRepliesAreRead_data();
    void reportingRepliesAreRead();
    void reportingIdsWrapInsideTheirBlock_data();
    void reportingIdsWrapInsideTheirBlock();

private:
    // Waits until every message the agent sent before this point has been handled.
    void drain();

    std::unique_ptr<FakeAgent> agent;
    std::unique_ptr<JsonRpcWebSocketClient> client;
    Recorder sentinel;
};

void TestJsonRpcClient::init()
{
    agent = std::make_unique<FakeAgent>();
    client = std::make_unique<JsonRpcWebSocketClient>();
    sentinel.values.clear();
    client->registerCallback(999, sentinel.callback());
    QSignalSpy connected(client.get(), &JsonRpcWebSocketClient::connected);
    client->connectToServer(agent->url());
    QVERIFY(connected.wait());
    QVERIFY(client->isConnected());
}

void TestJsonRpcClient::cleanup()
{
    client.reset();
    agent.reset();
}

void TestJsonRpcClient::drain()
{
    const qsizetype before = sentinel.values.size();
    agent->push(999, true);
    QTRY_COMPARE(sentinel.values.size(), before + 1);
}

void TestJsonRpcClient::requestIsOneCompactBinaryFrame_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("id");
    QTest::addColumn<QJsonObject>("params");
    QTest::addColumn<QByteArray>("wire");

    QTest::newRow("status") << QStringLiteral("status") << 0 << QJsonObject()
                            << QByteArray(R"({"id":0,"jsonrpc":"2.0","method":"status","params":{}})");
    QTest::newRow("connect with quotes and Chinese")
        << QStringLiteral("connect") << 2
        << QJsonObject{{QStringLiteral("username"), QStringLiteral("张三")},
                       {QStringLiteral("password"), QStringLiteral("p\"w 1")}}
        << QByteArray(R"({"id":2,"jsonrpc":"2.0","method":"connect","params":{"password":"p\"w 1","username":")")
               + QStringLiteral("张三").toUtf8() + QByteArray(R"("}})");
}

void TestJsonRpcClient::requestIsOneCompactBinaryFrame()
{
    QFETCH(QString, method);
    QFETCH(int, id);
    QFETCH(QJsonObject, params);
    QFETCH(QByteArray, wire);

    client->sendRequest(method, id, params, {});
    QTRY_COMPARE(agent->requests.size(), 1);
    drain();
    QCOMPARE(agent->requests.size(), 1);
    QVERIFY(agent->requests.first().binary);
    QCOMPARE(agent->requests.first().raw, wire);
}

void TestJsonRpcClient::dispatchesByIdToFirstCallback_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("expectedId"); // -1: no callback runs
    QTest::addColumn<QJsonValue>("expectedValue");

    QTest::newRow("result") << QByteArray(R"({"id":1,"jsonrpc":"2.0","result":"已配置"})") << QString() << 1
                            << QJsonValue(QStringLiteral("已配置"));
    QTest::newRow("error wins over result") << QByteArray(R"({"id":1,"error":{"message":"bad"},"result":"ok"})")
                                            << QString() << 1 << parse(R"({"v":{"message":"bad"}})");
    QTest::newRow("neither error nor result")
        << QByteArray(R"({"id":1})") << QString() << 1 << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("string id reads as 0") << QByteArray(R"({"id":"1","result":5})") << QString() << 0 << QJsonValue(5);
    QTest::newRow("fractional id reads as 0")
        << QByteArray(R"({"id":1.5,"result":5})") << QString() << 0 << QJsonValue(5);
    QTest::newRow("unregistered id") << QByteArray(R"({"id":42,"result":5})") << QString() << -1 << QJsonValue();
    QTest::newRow("no id") << QByteArray(R"({"result":"ok"})") << QStringLiteral("Invalid result") << -1
                           << QJsonValue();
    QTest::newRow("top-level array") << QByteArray(R"([{"id":1,"result":"ok"}])") << QStringLiteral("Invalid result")
                                     << -1 << QJsonValue();
    QTest::newRow("not JSON") << QByteArray("{id:1") << QStringLiteral("Error parsing json document") << -1
                              << QJsonValue();
}

void TestJsonRpcClient::dispatchesByIdToFirstCallback()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, warning);
    QFETCH(int, expectedId);
    QFETCH(QJsonValue, expectedValue);

    Recorder zero, one;
    client->registerCallback(0, zero.callback());
    client->registerCallback(1, one.callback());
    if (!warning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, warning.toUtf8().constData());

    agent->sendText(QString::fromUtf8(message));
    drain();

    QCOMPARE(zero.values.size(), expectedId == 0 ? 1 : 0);
    QCOMPARE(one.values.size(), expectedId == 1 ? 1 : 0);
    if (expectedId >= 0) {
        const QJsonValue got = (expectedId == 0 ? zero : one).values.first();
        QCOMPARE(got.type(), expectedValue.type());
        QCOMPARE(got, expectedValue);
    }
}

void TestJsonRpcClient::firstRegisteredCallbackKeepsItsId()
{
    // Two requests under one id: both replies reach the first callback.
    Recorder first, second;
    agent->answer(QStringLiteral("status"), QJsonObject{{QStringLiteral("MTU"), 1400}});
    client->sendRequest(QStringLiteral("status"), 0, first.callback());
    client->sendRequest(QStringLiteral("status"), 0, second.callback());
    QTRY_COMPARE(first.values.size(), 2);
    QCOMPARE(second.values.size(), 0);

    // A push handler registered up front takes the reply of a request sent
    // without a callback under its id, and a push that precedes any request.
    Recorder closed, lost;
    client->registerCallback(3, closed.callback());
    client->registerCallback(6, lost.callback());
    agent->push(6, QStringLiteral("连接丢失"));
    agent->answer(QStringLiteral("disconnect"), QStringLiteral("已断开"));
    client->sendRequest(QStringLiteral("disconnect"), 3, {});
    QTRY_COMPARE(closed.values.size(), 1);
    QCOMPARE(closed.values.first(), QJsonValue(QStringLiteral("已断开")));
    QCOMPARE(lost.values, QList<QJsonValue>{QJsonValue(QStringLiteral("连接丢失"))});

    // An empty callback does not block a later one from being stored.
    Recorder later;
    agent->answer(QStringLiteral("stat"), QJsonObject());
    client->sendRequest(QStringLiteral("stat"), 7, {});
    QTRY_COMPARE(agent->requestsFor(QStringLiteral("stat")).size(), 1);
    client->sendRequest(QStringLiteral("stat"), 7, later.callback());
    QTRY_COMPARE(later.values.size(), 1);
}

void TestJsonRpcClient::requestBeforeConnectIsDropped()
{
    JsonRpcWebSocketClient early;
    Recorder dropped, kept;
    QSignalSpy connected(&early, &JsonRpcWebSocketClient::connected);
    early.connectToServer(agent->url());
    early.sendRequest(QStringLiteral("status"), 0, dropped.callback());
    QVERIFY(!early.isConnected());
    QVERIFY(connected.wait());

    agent->answer(QStringLiteral("status"), QStringLiteral("up"));
    early.sendRequest(QStringLiteral("status"), 0, kept.callback());
    QTRY_COMPARE(kept.values.size(), 1);
    QCOMPARE(agent->requestsFor(QStringLiteral("status")).size(), 1);
    QVERIFY(dropped.values.isEmpty());
}

void TestJsonRpcClient::agentNotListeningReportsError()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();

    JsonRpcWebSocketClient orphan;
    QSignalSpy error(&orphan, &JsonRpcWebSocketClient::error);
    QSignalSpy connected(&orphan, &JsonRpcWebSocketClient::connected);
    orphan.connectToServer(QUrl(QStringLiteral("ws://127.0.0.1:%1/rpc").arg(port)));
    QVERIFY(error.wait());
    QVERIFY(!error.first().first().toString().isEmpty());
    QVERIFY(!orphan.isConnected());
    QCOMPARE(connected.size(), 0);
}

void TestJsonRpcClient::gracefulCloseReportsDisconnected()
{
    RawServer raw;
    JsonRpcWebSocketClient local;
    QSignalSpy connected(&local, &JsonRpcWebSocketClient::connected);
    QSignalSpy error(&local, &JsonRpcWebSocketClient::error);
    QSignalSpy disconnected(&local, &JsonRpcWebSocketClient::disconnected);
    local.connectToServer(raw.url());
    QVERIFY(connected.wait());
    QTRY_COMPARE(raw.sockets.size(), 1);
    // The client sends no Origin header, so a browser-guarding agent accepts it.
    QVERIFY(raw.sockets.first()->origin().isEmpty());

    // A close frame is no socket error, but the owner must hear of it.
    raw.sockets.first()->close(QWebSocketProtocol::CloseCodeGoingAway);
    QTRY_VERIFY(!local.isConnected());
    QTRY_COMPARE(disconnected.size(), 1);
    QTest::qWait(50);
    QCOMPARE(error.size(), 0);
    QCOMPARE(disconnected.size(), 1);

    // The link stays down: a request neither reaches the still-listening
    // server nor opens a new link to it.
    Recorder nothing;
    local.sendRequest(QStringLiteral("status"), 0, nothing.callback());
    QTest::qWait(200);
    QCOMPARE(raw.sockets.size(), 1);
    QVERIFY(!raw.server.hasPendingConnections());
    QCOMPARE(connected.size(), 1);
    QVERIFY(!local.isConnected());
}

void TestJsonRpcClient::callbackRegistersAndSendsDuringItsOwnCall()
{
    // The callback of id 10 fills the table with enough new ids to make it
    // grow (and so move its entries) and sends a request, all while it runs.
    Recorder added, echoed;
    int calls = 0;
    agent->answer(QStringLiteral("echo"), QStringLiteral("echoed"));
    const QString expectedTag = QString::number(123456789).repeated(8);
    client->registerCallback(10, [&, tag = QString::number(123456789).repeated(8)](const QJsonValue &value) {
        ++calls;
        for (int id = 100; id < 400; ++id)
            client->registerCallback(id, added.callback());
        client->sendRequest(QStringLiteral("echo"), 11, echoed.callback());
        // The running callback's own captures are intact after the table moved.
        QCOMPARE(tag, expectedTag);
        QCOMPARE(value, QJsonValue(QStringLiteral("go")));
    });
    agent->push(10, QStringLiteral("go"));
    QTRY_COMPARE(echoed.values.size(), 1);
    QCOMPARE(calls, 1);
    agent->push(399, 1);
    agent->push(10, QStringLiteral("go"));
    QTRY_COMPARE(calls, 2);
    QCOMPARE(added.values, QList<QJsonValue>{QJsonValue(1)});
    QTRY_COMPARE(echoed.values.size(), 2);
}

void TestJsonRpcClient::destructionClosesWithNormalCode()
{
    HandshakePeer peer;
    auto local = std::make_unique<JsonRpcWebSocketClient>();
    QSignalSpy connected(local.get(), &JsonRpcWebSocketClient::connected);
    local->connectToServer(peer.url());
    QVERIFY(connected.wait());

    local.reset();
    // A close frame with code 1000 (big-endian) and an empty reason.
    QTRY_COMPARE(peer.closeFrames.size(), 1);
    QCOMPARE(peer.closeFrames.first(), QByteArray("\x03\xe8", 2));
}

// A push under id 6 whose whole message is `size` bytes of UTF-8.
QString pushOfSize(qint64 size)
{
    const QString head = QStringLiteral("{\"id\":6,\"result\":\"");
    const QString tail = QStringLiteral("\"}");
    return head + QString(size - head.size() - tail.size(), QLatin1Char('x')) + tail;
}

void TestJsonRpcClient::oversizedMessageIsDropped_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("oneFrame");
    QTest::addColumn<bool>("delivered");
    const qint64 bound = JsonRpcWebSocketClient::DefaultMaxMessageSize;
    QTest::newRow("at the bound") << bound << false << true;
    QTest::newRow("one byte over, in frames") << bound + 1 << false << false;
    QTest::newRow("over, in one frame") << bound + 1 << true << false;
    QTest::newRow("8 MiB in one frame") << qint64(8) * 1024 * 1024 << true << false;
}

// A message over the bound never reaches a callback, and the link goes on:
// no failure is reported, and pushes and requests pass as before.
void TestJsonRpcClient::oversizedMessageIsDropped()
{
    QFETCH(qint64, size);
    QFETCH(bool, oneFrame);
    QFETCH(bool, delivered);
    RawServer raw;
    JsonRpcWebSocketClient local;
    Recorder lost;
    local.registerCallback(6, lost.callback());
    QSignalSpy connected(&local, &JsonRpcWebSocketClient::connected);
    QSignalSpy error(&local, &JsonRpcWebSocketClient::error);
    QSignalSpy disconnected(&local, &JsonRpcWebSocketClient::disconnected);
    local.connectToServer(raw.url());
    QVERIFY(connected.wait());
    QTRY_COMPARE(raw.sockets.size(), 1);

    if (!delivered)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Dropped a message from the agent")));
    QWebSocket *agentSide = raw.sockets.first();
    if (oneFrame)
        agentSide->setOutgoingFrameSize(quint64(size) + 16);
    agentSide->sendTextMessage(pushOfSize(size));
    if (delivered) {
        QTRY_COMPARE(lost.values.size(), 1);
        QCOMPARE(lost.values.first().toString().size(), size - 20);
    } else {
        // The link the agent overfilled is opened again at once.
        QTRY_COMPARE(connected.size(), 2);
        QTRY_COMPARE(raw.sockets.size(), 2);
        QVERIFY(lost.values.isEmpty());
    }
    QVERIFY(local.isConnected());
    QCOMPARE(error.size(), 0);
    QCOMPARE(disconnected.size(), 0);

    QSignalSpy requests(raw.sockets.last(), &QWebSocket::binaryMessageReceived);
    Recorder status;
    local.sendRequest(QStringLiteral("status"), 0, status.callback());
    QVERIFY(requests.wait());
    raw.sockets.last()->sendTextMessage(QStringLiteral("{\"id\":6,\"result\":\"after\"}"));
    QTRY_VERIFY(!lost.values.isEmpty() && lost.values.constLast() == QJsonValue(QStringLiteral("after")));
}

// An agent that overfills every link it is given is answered more and more
// slowly, not in a loop as fast as it can send.
void TestJsonRpcClient::repeatedOversizedMessagesSlowTheReopening()
{
    RawServer raw;
    connect(&raw.server, &QWebSocketServer::newConnection, &raw, [&raw] {
        raw.sockets.last()->sendTextMessage(pushOfSize(JsonRpcWebSocketClient::DefaultMaxMessageSize + 1));
    });
    JsonRpcWebSocketClient local;
    QSignalSpy disconnected(&local, &JsonRpcWebSocketClient::disconnected);
    QSignalSpy error(&local, &JsonRpcWebSocketClient::error);
    static int dropped = 0;
    dropped = 0;
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
              if (type == QtWarningMsg && message.startsWith(QLatin1String("Dropped a message from the agent")))
                  ++dropped;
          });
    local.connectToServer(raw.url());
    // Reopened at once, then after 250 ms, 500 ms, 1 s: four links in 1.5 s.
    QTest::qWait(1500);
    qInstallMessageHandler(previous);
    QVERIFY2(raw.sockets.size() >= 3 && raw.sockets.size() <= 5, qPrintable(QString::number(raw.sockets.size())));
    QVERIFY(dropped >= raw.sockets.size() - 1);
    QCOMPARE(error.size(), 0);
    QCOMPARE(disconnected.size(), 0);
}

// A text frame that is not UTF-8 is dropped like an oversized message.
void TestJsonRpcClient::invalidTextIsDropped()
{
    HandshakePeer peer;
    JsonRpcWebSocketClient local;
    Recorder lost;
    local.registerCallback(6, lost.callback());
    QSignalSpy connected(&local, &JsonRpcWebSocketClient::connected);
    QSignalSpy error(&local, &JsonRpcWebSocketClient::error);
    QSignalSpy disconnected(&local, &JsonRpcWebSocketClient::disconnected);
    local.connectToServer(peer.url());
    QVERIFY(connected.wait());

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^Dropped a message from the agent that is not")));
    peer.sendFrame(0x1, QByteArray("{\"id\":6,\"result\":\"\xff\xfe\"}"));
    QTRY_COMPARE(connected.size(), 2);
    QCOMPARE(peer.connections, 2);
    peer.sendFrame(0x1, QByteArray("{\"id\":6,\"result\":\"after\"}"));
    QTRY_COMPARE(lost.values.size(), 1);
    QCOMPARE(lost.values.first().toString(), QStringLiteral("after"));
    QVERIFY(local.isConnected());
    QCOMPARE(error.size(), 0);
    QCOMPARE(disconnected.size(), 0);
}

void TestJsonRpcClient::reportPayloadCarriesEveryKey()
{
    SoftwareInfo blank;
    client->submitAppReport({sampleRecord(), blank}, QStringLiteral("用户主动上报"), QStringLiteral("user_report"));
    QTRY_COMPARE(agent->requestsFor(QStringLiteral("app.report.submit")).size(), 1);
    const FakeAgent::Request request = agent->requestsFor(QStringLiteral("app.report.submit")).first();
    QVERIFY(request.binary);
    QVERIFY(request.id >= 1000 && request.id <= 1999);

    const QJsonObject expectedFull{
        {QStringLiteral("name"), QStringLiteral("记事本")},
        {QStringLiteral("version"), QStringLiteral("11.2")},
        {QStringLiteral("publisher"), QStringLiteral("Contoso")},
        {QStringLiteral("install_path"), QStringLiteral("C:/Program Files/Notes")},
        {QStringLiteral("executable_path"), QStringLiteral("C:/Program Files/Notes/notes.exe")},
        {QStringLiteral("install_date"), QStringLiteral("2024-03-05")},
        {QStringLiteral("file_size"), 5000000000LL},
        {QStringLiteral("file_hash_md5"), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e")},
        {QStringLiteral("file_hash_sha256"), QString()},
        {QStringLiteral("digital_signer"), QStringLiteral("Contoso Ltd")},
        {QStringLiteral("process_name"), QStringLiteral("notes.exe")},
        {QStringLiteral("port_list"), QStringLiteral("80,443")},
        {QStringLiteral("network_info"), QString()},
    };
    QJsonObject expectedBlank;
    for (auto it = expectedFull.begin(); it != expectedFull.end(); ++it)
        expectedBlank.insert(it.key(), it.key() == QLatin1String("file_size") ? QJsonValue(0) : QJsonValue(QString()));

    const QJsonObject expected{
        {QStringLiteral("software_list"), QJsonArray{expectedFull, expectedBlank}},
        {QStringLiteral("reason"), QStringLiteral("用户主动上报")},
        {QStringLiteral("category"), QStringLiteral("user_report")},
    };
    QCOMPARE(request.params, expected);
    // A size above 2^32 stays a whole number on the wire.
    QVERIFY(request.raw.contains("\"file_size\":5000000000"));
}

void TestJsonRpcClient::reportingRepliesAreRead_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<bool>("asError");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("emitted");
    QTest::addColumn<QVariantList>("arguments");

    const QString submit = QStringLiteral("app.report.submit");
    const QString my = QStringLiteral("app.report.my");
    const QString split = QStringLiteral("app.split.enabled");
    const QJsonArray two{QJsonObject{{QStringLiteral("id"), 1}}, 2};

    QTest::newRow("submit success") << submit << false << QByteArray(R"({"v":{"success":true,"message":"已收到"}})")
                                    << true << QVariantList{true, QStringLiteral("已收到")};
    QTest::newRow("submit success, no message")
        << submit << false << QByteArray(R"({"v":{"success":true}})") << true << QVariantList{true, QString()};
    QTest::newRow("submit success not a bool")
        << submit << false << QByteArray(R"({"v":{"success":"yes"}})") << true << QVariantList{false, QString()};
    QTest::newRow("submit string") << submit << false << QByteArray(R"({"v":"busy"})") << true
                                   << QVariantList{false, QStringLiteral("busy")};
    QTest::newRow("submit number") << submit << false << QByteArray(R"({"v":7})") << true
                                   << QVariantList{false, QStringLiteral("未知响应格式")};
    QTest::newRow("submit error object") << submit << true << QByteArray(R"({"v":{"code":-1,"message":"denied"}})")
                                         << true << QVariantList{false, QStringLiteral("denied")};

    QTest::newRow("my array") << my << false << QByteArray(R"({"v":[{"id":1},2]})") << true
                              << QVariantList{QVariant::fromValue(two)};
    QTest::newRow("my reports member") << my << false << QByteArray(R"({"v":{"reports":[{"id":1},2]}})") << true
                                       << QVariantList{QVariant::fromValue(two)};
    QTest::newRow("my reports not an array") << my << false << QByteArray(R"({"v":{"reports":"x"}})") << true
                                             << QVariantList{QVariant::fromValue(QJsonArray())};
    QTest::newRow("my string") << my << false << QByteArray(R"({"v":"none"})") << false << QVariantList();
    QTest::newRow("my error object") << my << true << QByteArray(R"({"v":{"message":"denied"}})") << false
                                     << QVariantList();

    QTest::newRow("split array") << split << false << QByteArray(R"({"v":[{"id":1},2]})") << true
                                 << QVariantList{QVariant::fromValue(two)};
    QTest::newRow("split rules member") << split << false << QByteArray(R"({"v":{"rules":[{"id":1},2]}})") << true
                                        << QVariantList{QVariant::fromValue(two)};
    QTest::newRow("split rules not an array") << split << false << QByteArray(R"({"v":{"rules":{}}})") << true
                                              << QVariantList{QVariant::fromValue(QJsonArray())};
    QTest::newRow("split object without rules")
        << split << false << QByteArray(R"({"v":{"code":1}})") << false << QVariantList();
    QTest::newRow("split error") << split << true << QByteArray(R"({"v":{"message":"off"}})") << false
                                 << QVariantList();
}

void TestJsonRpcClient::reportingRepliesAreRead()
{
    QFETCH(QString, method);
    QFETCH(bool, asError);
    QFETCH(QByteArray, reply);
    QFETCH(bool, emitted);
    QFETCH(QVariantList, arguments);

    const QJsonValue value = QJsonDocument::fromJson(reply).object().value(QLatin1String("v"));
    if (asError)
        agent->answerError(method, value);
    else
        agent->answer(method, value);

    QSignalSpy submitted(client.get(), &JsonRpcWebSocketClient::appReportSubmitted);
    QSignalSpy reports(client.get(), &JsonRpcWebSocketClient::myAppReportsReceived);
    QSignalSpy rules(client.get(), &JsonRpcWebSocketClient::appSplitRulesReceived);
    QSignalSpy *expectedSpy = nullptr;
    if (method == QLatin1String("app.report.submit")) {
        client->submitAppReport({}, QStringLiteral("r"), QStringLiteral("c"));
        expectedSpy = &submitted;
    } else if (method == QLatin1String("app.report.my")) {
        client->getMyAppReports();
        expectedSpy = &reports;
    } else {
        client->getEnabledAppSplitRules();
        expectedSpy = &rules;
    }
    QTRY_COMPARE(agent->requestsFor(method).size(), 1);
    drain();

    QCOMPARE(submitted.size() + reports.size() + rules.size(), emitted ? 1 : 0);
    if (emitted) {
        QCOMPARE(expectedSpy->size(), 1);
        const QVariantList got = expectedSpy->first();
        QCOMPARE(got.size(), arguments.size());
        for (int i = 0; i < got.size(); ++i) {
            if (arguments.at(i).canConvert<QJsonArray>() && got.at(i).userType() == qMetaTypeId<QJsonArray>())
                QCOMPARE(got.at(i).value<QJsonArray>(), arguments.at(i).value<QJsonArray>());
            else
                QCOMPARE(got.at(i), arguments.at(i));
        }
    }
}

void TestJsonRpcClient::reportingIdsWrapInsideTheirBlock_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<int>("first");
    QTest::newRow("app.report.submit") << QStringLiteral("app.report.submit") << 1000;
    QTest::newRow("app.report.my") << QStringLiteral("app.report.my") << 2000;
    QTest::newRow("app.split.enabled") << QStringLiteral("app.split.enabled") << 3000;
}

void TestJsonRpcClient::reportingIdsWrapInsideTheirBlock()
{
    QFETCH(QString, method);
    QFETCH(int, first);

    agent->answer(method, QJsonArray());
    QSignalSpy submitted(client.get(), &JsonRpcWebSocketClient::appReportSubmitted);
    QSignalSpy reports(client.get(), &JsonRpcWebSocketClient::myAppReportsReceived);
    QSignalSpy rules(client.get(), &JsonRpcWebSocketClient::appSplitRulesReceived);

    // One more call than the block holds: the ids must come round once.
    const int calls = 1001;
    for (int i = 0; i < calls; ++i) {
        if (first == 1000)
            client->submitAppReport({}, QString(), QString());
        else if (first == 2000)
            client->getMyAppReports();
        else
            client->getEnabledAppSplitRules();
    }
    QTRY_COMPARE(agent->requestsFor(method).size(), calls);

    const QList<FakeAgent::Request> sent = agent->requestsFor(method);
    int wraps = 0;
    for (int i = 0; i < sent.size(); ++i) {
        const int id = sent.at(i).id;
        QVERIFY2(id >= first && id < first + 1000, qPrintable(QString::number(id)));
        if (i > 0) {
            const int previous = sent.at(i - 1).id;
            QCOMPARE(id, previous == first + 999 ? first : previous + 1);
            if (previous == first + 999)
                ++wraps;
        }
    }
    QCOMPARE(wraps, 1);

    // Every reply, reused ids included, still reaches this method's reader.
    QTRY_COMPARE(submitted.size() + reports.size() + rules.size(), calls);
}

QTEST_GUILESS_MAIN(TestJsonRpcClient)
#include "tst_jsonrpcclient.moc"
