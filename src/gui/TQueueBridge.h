#pragma once
// Joins Qt's event loop and the platform message queue of the GUI thread, both ways:
// - while Qt's loop is idle, the queue's descriptor wakes it and the pending socket notifications and
//   timer ticks are dispatched;
// - while the socket layer waits inside a handler (a request during a run), its pump runs Qt's pending
//   events through the event hook, so the window repaints and takes input.
// One bridge per GUI thread; it removes the hook when it goes.
#include <QObject>

#include <memory>

class QSocketNotifier;

class TQueueBridge : public QObject {
    Q_OBJECT

public:
    explicit TQueueBridge(QObject* Parent = nullptr);
    ~TQueueBridge() override;

private:
    void RunQtEvents();

    std::unique_ptr<QSocketNotifier> FNotifier;
};
