#pragma once

#include <QObject>

// Lets one write session at a time run in the whole process: a Manual mode
// write or undo holds it from its start until its last file has landed, an
// Auto mode run from its first step to its end. Whoever finds it held by
// another refuses to start (and shows its write actions disabled).
//
// Main thread only. The holder is the object that acquired it (a view model);
// it is released by that holder, or when the holder is destroyed.
class WriteSessionGate : public QObject {
    Q_OBJECT
public:
    // The shared instance; create it on the main thread.
    static WriteSessionGate& shared();

    explicit WriteSessionGate(QObject* parent = nullptr);

    // Takes the gate for `holder` when it is free (or already held by it).
    bool tryAcquire(QObject* holder);
    // Frees the gate when `holder` holds it; nothing otherwise.
    void release(QObject* holder);

    // Who holds it; nullptr when free.
    QObject* holder() const { return m_holder; }
    // Whether someone other than `self` holds it.
    bool isHeldByOther(const QObject* self) const;

Q_SIGNALS:
    // The holder changed (taken or freed).
    void changed();

private:
    QObject* m_holder = nullptr;
    QMetaObject::Connection m_destroyedConnection;
};
