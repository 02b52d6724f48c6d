#include "agentlink.h"

#include "jsonrpcwebsocketclient.h"

#include <algorithm>

AgentLink::AgentLink(JsonRpcWebSocketClient *client, QObject *parent)
    : QObject(parent)
    , client(client)
{
    retryTimer.setSingleShot(true);
    attemptTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, &AgentLink::attempt);
    connect(&attemptTimer, &QTimer::timeout, this, [this] {
        if (currentState != State::Connecting)
            return;
        // The socket is dropped quietly; the try counts as failed here.
        this->client->abort();
        onFailure();
    });
    connect(client, &JsonRpcWebSocketClient::connected, this, &AgentLink::onConnected);
    connect(client, &JsonRpcWebSocketClient::error, this, &AgentLink::onFailure);
    connect(client, &JsonRpcWebSocketClient::disconnected, this, &AgentLink::onFailure);
}

void AgentLink::open(const QUrl &agentUrl)
{
    url = agentUrl;
    attempt();
}

void AgentLink::setAttemptTimeout(int ms)
{
    attemptTimeoutMs = ms;
}

AgentLink::State AgentLink::state() const
{
    return currentState;
}

bool AgentLink::isUp() const
{
    return currentState == State::Up;
}

quint64 AgentLink::epoch() const
{
    return currentEpoch;
}

int AgentLink::retryCount() const
{
    return retries;
}

int AgentLink::restoredCount() const
{
    return restored;
}

qint64 AgentLink::msUntilNextAttempt() const
{
    return currentState == State::Waiting ? nextAttempt.remainingTime() : -1;
}

bool AgentLink::isRefused() const
{
    return client->isAgentRefused();
}

int AgentLink::retryDelayMs(int failedRetries)
{
    static constexpr int schedule[] = {500, 1000, 2000, 4000, 5000};
    constexpr int last = int(std::size(schedule)) - 1;
    return schedule[std::clamp(failedRetries, 0, last)];
}

void AgentLink::attempt()
{
    if (currentState == State::Connecting || currentState == State::Up)
        return;
    if (currentState == State::Waiting)
        ++retries;
    setState(State::Connecting);
    attemptTimer.start(attemptTimeoutMs);
    client->connectToServer(url);
}

void AgentLink::onConnected()
{
    if (currentState == State::Up) {
        emit reopened();
        return;
    }
    // Only the try under way can come up; anything else is a late signal of
    // a socket that was already given up.
    if (currentState != State::Connecting)
        return;
    attemptTimer.stop();
    if (everUp)
        ++restored;
    everUp = true;
    retries = 0;
    failedRetries = 0;
    ++currentEpoch;
    setState(State::Up);
    emit linkUp();
}

void AgentLink::onFailure()
{
    // A drop can come as an error and a close together; the first one counts.
    if (currentState != State::Connecting && currentState != State::Up)
        return;
    attemptTimer.stop();
    const bool wasUp = currentState == State::Up;
    const bool firstTry = !everUp && retries == 0;
    if (wasUp)
        ++currentEpoch;
    else if (!firstTry)
        ++failedRetries;
    const int delay = retryDelayMs(failedRetries);
    nextAttempt.setRemainingTime(delay);
    retryTimer.start(delay);
    setState(State::Waiting);
    if (wasUp || firstTry)
        emit linkDown(wasUp);
    else
        emit retryFailed();
}

void AgentLink::setState(State state)
{
    if (state == currentState)
        return;
    currentState = state;
    emit stateChanged(state);
}
