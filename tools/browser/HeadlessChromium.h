// Debian's headless Chromium driven through its remote-debugging pipe: one
// browser process (in a process group of its own, ended with the object),
// commands sent as JSON, answers and events read back, with waits that keep
// serving the thread's Qt events (so an HtmlServer on the same thread
// goes on answering the browser).
#pragma once

#include "base/ChildProcess.h"

#include <QJsonObject>
#include <QList>
#include <QSize>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

class QImage;
class QPoint;
class QSocketNotifier;

class BrowserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class HeadlessChromium {
public:
    // Starts /usr/bin/chromium with a fresh profile in workFolder, which also
    // receives the browser's own log (chromium.log).
    explicit HeadlessChromium(const QString& workFolder);
    ~HeadlessChromium();
    HeadlessChromium(const HeadlessChromium&) = delete;
    HeadlessChromium& operator=(const HeadlessChromium&) = delete;

    // Sends a command (to a page when sessionId is given) and returns its
    // result; throws BrowserError on an error answer or when none comes.
    QJsonObject Call(const QString& method, const QJsonObject& params = {}, const QString& sessionId = {},
                     int timeoutMs = 30000);

    // The first event, received so far or within the time, that matches.
    std::optional<QJsonObject> WaitForEvent(const std::function<bool(const QJsonObject&)>& match,
                                            int timeoutMs);
    const QList<QJsonObject>& Events() const { return events; }

    // Serves Qt events, and reads what the browser sends, until the
    // condition holds or the time is up.
    bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

private:
    void readMessages();

    std::optional<Platform::ChildProcess> browser;
    int toBrowser = -1;
    int fromBrowser = -1;
    std::unique_ptr<QSocketNotifier> readable;
    QByteArray pending;
    int lastId = 0;
    std::map<int, QJsonObject> answers;
    QList<QJsonObject> events;
    bool closed = false;
    bool gone = false;
};

// One tab of the browser, of a fixed viewport size at one device pixel per
// CSS pixel.
class BrowserTab {
public:
    BrowserTab(HeadlessChromium& browser, QSize viewport);

    // Opens the address; the console lines seen so far are forgotten.
    void Open(const QString& url);
    // Console output of the page and its frames, formatting marks removed.
    QStringList ConsoleLines() const;
    bool WaitForConsole(const QString& text, int timeoutMs);
    // The value of a JavaScript expression (JSON-compatible values only).
    QJsonValue Evaluate(const QString& expression);
    QImage Screenshot();
    void Click(const QPoint& at);

private:
    HeadlessChromium& browser;
    QString session;
    qsizetype firstEvent = 0;
};
