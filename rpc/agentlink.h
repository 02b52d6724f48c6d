#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <QUrl>

class JsonRpcWebSocketClient;

// The life of the link to the agent: opens it, notices when it fails or
// closes, and opens it again for as long as the process runs, 0.5 s, 1 s, 2 s
// and 4 s after each failed try and every 5 s from then on. The agent's
// service may start after the client (start at log-on) or restart under it.
//
// Every time the link comes up or goes down the epoch moves on: a timer or a
// request started on one link compares the epoch it saw with the current one,
// so nothing started for an old link acts on the next.
class AgentLink : public QObject
{
    Q_OBJECT

public:
    enum class State {
        Closed,     // not opened yet
        Connecting, // a try is under way
        Up,         // the link carries requests
        Waiting,    // down; the next try is scheduled
    };
    Q_ENUM(State)

    // A try that neither connects nor fails within this time (a listener
    // that accepts but never answers the handshake) counts as failed.
    static constexpr int defaultAttemptTimeoutMs = 10000;

    // The client stays the one channel to the agent; the link reopens its socket.
    explicit AgentLink(JsonRpcWebSocketClient *client, QObject *parent = nullptr);

    // The first try, at once; the link then looks after itself.
    void open(const QUrl &url);
    void setAttemptTimeout(int ms);

    State state() const;
    bool isUp() const;
    quint64 epoch() const;
    // Tries made since the link was last up (or since the first try failed);
    // 0 while it is up.
    int retryCount() const;
    // How often a link that had been up came back.
    int restoredCount() const;
    // Milliseconds until the next try while waiting for it, otherwise -1.
    qint64 msUntilNextAttempt() const;
    // The last try reached a listener that the identity check refused.
    bool isRefused() const;

    // The wait before the next try after `failedRetries` tries have failed
    // since the link went down: 500, 1000, 2000, 4000, then 5000 ms.
    static int retryDelayMs(int failedRetries);

signals:
    // The link is up; "config" goes first.
    void linkUp();
    // The link went down (`wasUp`), or the very first try failed: once per
    // loss, not for every failed try after it.
    void linkDown(bool wasUp);
    // A try after the loss failed too; the next one is scheduled.
    void retryFailed();
    // The client opened the link again by itself, having dropped a message
    // it would not take: nothing was lost but that message, the session goes
    // on, and the agent wants "config" again.
    void reopened();
    void stateChanged(AgentLink::State state);

private:
    void attempt();
    void onConnected();
    void onFailure();
    void setState(State state);

    JsonRpcWebSocketClient *client;
    QUrl url;
    State currentState = State::Closed;
    quint64 currentEpoch = 0;
    int retries = 0;
    int failedRetries = 0;
    int restored = 0;
    bool everUp = false;
    QTimer retryTimer;
    QTimer attemptTimer;
    int attemptTimeoutMs = defaultAttemptTimeoutMs;
    QDeadlineTimer nextAttempt;
};
