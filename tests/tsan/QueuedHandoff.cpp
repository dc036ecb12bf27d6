// Linked into every test program of the thread-sanitized build.
//
// Qt is not built with ThreadSanitizer: the lock that guards a thread's posted
// events is a futex inside Qt, so the sanitizer never sees that a queued signal
// or a posted call orders what its sender did before it against what the slot
// does. Without help every hand-off to the interface thread reads as a race in
// our own code (the slot's lambda reading what the worker captured).
//
// The help is one release and one acquire on a single address: every signal,
// posted call, event and pool task that our code sends releases it before Qt
// queues anything (the linker routes our calls here, see CMakeLists.txt), and
// the delivery of a queued call, a deferred delete or a custom event, or the
// start of the task, acquires it. A posted call's way back (a caller that waits
// for the slot, or frees the slot object after it ran) has an address of its
// own. This orders what Qt's locks order, and somewhat more: a slot also sees
// what its sender did up to the sender's latest post, not only up to the post it
// delivers. A race is still reported when the worker writes after its last post
// (tests/tsan/ProbeRace.cpp proves it fails the run). What Qt allocates and
// frees itself on the way is left to the suppressions.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <memory>
#include <sanitizer/tsan_interface.h>

extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);

namespace {

char g_posted; // only its address matters

void Release() {
    __tsan_release(&g_posted);
}

// The way back, for a call that waits for its slot (a question to the user) and
// for a slot object that the caller frees after the slot ran elsewhere: the end
// of the call releases, and the caller acquires before it frees or goes on.
char g_returned;

class ReturningSlot : public QtPrivate::QSlotObjectBase {
public:
    explicit ReturningSlot(QSlotObjectBase* inner) : QSlotObjectBase(&Impl), m_inner(inner) {}

private:
    static void Impl(int which, QSlotObjectBase* self, QObject* receiver, void** args, bool* ret) {
        auto* me = static_cast<ReturningSlot*>(self);
        switch (which) {
        case Call:
            me->m_inner->call(receiver, args);
            __tsan_release(&g_returned);
            break;
        case Destroy:
            __tsan_acquire(&g_returned);
            me->m_inner->destroyIfLastRef();
            delete me;
            break;
        default:
            if (ret)
                *ret = false;
        }
    }
    QSlotObjectBase* m_inner;
};

// Scope of one of our calls into Qt's queueing.
struct Posting {
    Posting() { Release(); }
};

// Qt made the event after our release, so the sanitizer must not look at this
// read of it: it would take Qt's own write for a race.
QEvent::Type TypeOf(const QEvent* event) {
    AnnotateIgnoreReadsBegin(__FILE__, __LINE__);
    const QEvent::Type type = event->type();
    AnnotateIgnoreReadsEnd(__FILE__, __LINE__);
    return type;
}

bool AcquireOnDelivery(void** data) {
    const QEvent::Type type = TypeOf(static_cast<const QEvent*>(data[1]));
    if (type == QEvent::MetaCall || type == QEvent::DeferredDelete || type >= QEvent::User)
        __tsan_acquire(&g_posted);
    return false; // the event is delivered as usual
}

bool Register() {
    return QInternal::registerCallback(QInternal::EventNotifyCallback, AcquireOnDelivery);
}

[[maybe_unused]] const bool g_registered = Register();

} // namespace

// Qt's functions that post or start work on our behalf; __real_ is Qt's own.
extern "C" {
void __real__ZN11QMetaObject8activateEP7QObjectPKS_iPPv(QObject*, const QMetaObject*, int, void**);
void __wrap__ZN11QMetaObject8activateEP7QObjectPKS_iPPv(QObject* sender, const QMetaObject* meta,
                                                        int index, void** args) {
    const Posting posting;
    __real__ZN11QMetaObject8activateEP7QObjectPKS_iPPv(sender, meta, index, args);
}

void __real__ZN11QMetaObject8activateEP7QObjectiiPPv(QObject*, int, int, void**);
void __wrap__ZN11QMetaObject8activateEP7QObjectiiPPv(QObject* sender, int offset, int index,
                                                     void** args) {
    const Posting posting;
    __real__ZN11QMetaObject8activateEP7QObjectiiPPv(sender, offset, index, args);
}

bool __real__ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(
    QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*);
bool __wrap__ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(
    QObject* context, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type, void* ret) {
    const Posting posting;
    slot = new ReturningSlot(slot);
    Release(); // its fields, written after its allocation
    const bool done =
        __real__ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv(
            context, slot, type, ret);
    __tsan_acquire(&g_returned); // a blocking call: what the slot did is ours now
    return done;
}

void __real__ZN16QCoreApplication9postEventEP7QObjectP6QEventi(QObject*, QEvent*, int);
void __wrap__ZN16QCoreApplication9postEventEP7QObjectP6QEventi(QObject* receiver, QEvent* event,
                                                               int priority) {
    const Posting posting;
    __real__ZN16QCoreApplication9postEventEP7QObjectP6QEventi(receiver, event, priority);
}

void __real__ZN7QObject11deleteLaterEv(QObject*);
void __wrap__ZN7QObject11deleteLaterEv(QObject* object) {
    const Posting posting;
    __real__ZN7QObject11deleteLaterEv(object);
}

void __real__ZN6QTimer14singleShotImplEiN2Qt9TimerTypeEPK7QObjectPN9QtPrivate15QSlotObjectBaseE(
    int, Qt::TimerType, const QObject*, QtPrivate::QSlotObjectBase*);
void __wrap__ZN6QTimer14singleShotImplEiN2Qt9TimerTypeEPK7QObjectPN9QtPrivate15QSlotObjectBaseE(
    int msec, Qt::TimerType timerType, const QObject* receiver, QtPrivate::QSlotObjectBase* slot) {
    const Posting posting;
    __real__ZN6QTimer14singleShotImplEiN2Qt9TimerTypeEPK7QObjectPN9QtPrivate15QSlotObjectBaseE(
        msec, timerType, receiver, slot);
}

// A pool thread takes the work through Qt's own lock and wait condition.
void __real__ZN11QThreadPool5startESt8functionIFvvEEi(QThreadPool*, std::function<void()>, int);
void __wrap__ZN11QThreadPool5startESt8functionIFvvEEi(QThreadPool* pool, std::function<void()> work,
                                                      int priority) {
    const Posting posting;
    auto* handed = new std::function<void()>(std::move(work));
    Release(); // the copy of the work, made after the release above
    __real__ZN11QThreadPool5startESt8functionIFvvEEi(
        pool,
        [handed] {
            __tsan_acquire(&g_posted);
            const std::unique_ptr<std::function<void()>> owned(handed);
            (*owned)();
        },
        priority);
}
}
