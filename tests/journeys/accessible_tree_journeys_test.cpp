// A screen reader reading the whole accessible tree again and again while the views change
// under it: a batch exporting, sheets opening and closing, the library's rows changing. Every
// element it reaches must be alive; a destroyed widget still reported by an element is a crash
// for the reader's program (and a use after free under the sanitizer).
#include "journey.h"

#include "views/export/audio_export_view.h"
#include "views/export/loop_export_controls.h"
#include "views/export_form/export_format_controls.h"
#include "views/kit/accessibility/accessible_bus_guard.h"
#include "views/kit/accessibility/internal/bus_call_queue.h"
#include "views/kit/controls/hardware_slider.h"
#include "views/kit/accessibility/view_accessibility.h"
#include "views/main/main_view_texts.h"
#include "views/library/library_row.h"
#include "views/sd2/sd2_tools_view.h"
#include "windows/window_registry.h"
#include "windows/window_texts.h"

#include <QAccessible>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <climits>
#include <string>

using namespace tampod;
using namespace tampod::test;

namespace {

// Reads what the accessibility bridge reads on a reader's requests: from the application's
// element down, every element's texts, role, state, place, relations, focus, parent and index
// in it, its children, and its table, cell, text, value and action interfaces.
class TreeReader {
public:
    TreeReader()
    {
        timer_.setInterval(15);
        QObject::connect(&timer_, &QTimer::timeout, [this] { readAll(); });
        timer_.start();
        warnings().clear();
        // From the first reader on, for the rest of the process: the journey's end destroys the
        // windows after the reader has gone.
        static const bool logging = [] {
            previous() = qInstallMessageHandler(&TreeReader::record);
            // The cache's log describes every element as it is made and as it is dropped
            // (reading its name, role, children, state and place): a reader at the worst
            // moments, when the widget it stands for is being built or destroyed.
            QLoggingCategory::setFilterRules(QStringLiteral("qt.accessibility.cache.debug=true"));
            return true;
        }();
        Q_UNUSED(logging);
    }

    // What the accessibility code logged about elements it could not make, and anything logged
    // about the library table: a reader on the bus is sent to no element or to a wrong one.
    static QStringList &warnings()
    {
        static QStringList logged;
        return logged;
    }

    // Waits for the next walk, which reads the tree as it is now: the reader keeps pace with
    // the changes however slowly the machine runs. False when none came within a minute.
    bool awaitWalk()
    {
        const int before = walks_;
        return pumpUntil([&] { return walks_ > before; });
    }

    void readAll()
    {
        findForgottenFocus();
        seen_.clear();
        read(QAccessible::queryAccessibleInterface(qApp), 0);
        // Windows not (yet) among the application's children, as the bridge meets them
        // through their events.
        for (QWidget *window : QApplication::topLevelWidgets())
            read(QAccessible::queryAccessibleInterface(window), 0);
        // A reader keeps the elements it has met by their ids and asks about them again later,
        // as it does on an event naming one.
        const QSet<QAccessible::Id> known = std::exchange(known_, {});
        for (const QAccessible::Id id : known) {
            QAccessibleInterface *element = QAccessible::accessibleInterface(id);
            if (!element || !element->isValid())
                continue;
            known_.insert(id);
            touch(element);
            if (QAccessibleInterface *parent = element->parent())
                (void)parent->indexOfChild(element);
            for (const auto &[related, relation] : element->relations())
                touch(related);
            (void)element->childCount();
        }
        ++walks_;
    }

private:
    // Every widget remembers the descendant that last had the focus, and an element's focus
    // child is read from it, in every window, active or not. A widget destroyed while another
    // still remembers it is a read of freed memory in Qt's own code, which no sanitizer sees
    // there: caught here by name.
    static void findForgottenFocus()
    {
        const QWidgetList all = QApplication::allWidgets();
        const QSet<QWidget *> live(all.begin(), all.end());
        for (const QWidget *widget : all) {
            if (QWidget *remembered = widget->focusWidget(); remembered && !live.contains(remembered))
                warnings() << QStringLiteral("%1 %2 remembers a destroyed focus widget")
                                  .arg(QLatin1String(widget->metaObject()->className()), widget->objectName());
        }
    }

    void touch(QAccessibleInterface *element)
    {
        if (!element || !element->isValid())
            return;
        known_.insert(QAccessible::uniqueId(element));
        for (const auto t : {QAccessible::Name, QAccessible::Description, QAccessible::Value, QAccessible::Help})
            (void)element->text(t);
        (void)element->role();
        (void)element->state();
        (void)element->rect();
        (void)element->object();
        (void)element->window();
    }

    void read(QAccessibleInterface *element, int depth)
    {
        if (!element || !element->isValid() || depth > 40 || seen_.contains(element))
            return;
        seen_.insert(element);
        touch(element);

        for (const auto &[related, relation] : element->relations())
            touch(related);
        touch(element->focusChild());
        if (QAccessibleInterface *parent = element->parent()) {
            touch(parent);
            (void)parent->indexOfChild(element);
        }

        if (QAccessibleTableInterface *table = element->tableInterface()) {
            (void)table->rowCount();
            (void)table->columnCount();
            for (QAccessibleInterface *cell : table->selectedCells())
                touch(cell);
            (void)table->selectedRows();
        }
        if (QAccessibleTableCellInterface *cell = element->tableCellInterface()) {
            (void)cell->rowIndex();
            (void)cell->columnIndex();
            (void)cell->isSelected();
            touch(cell->table());
            for (QAccessibleInterface *header : cell->columnHeaderCells() + cell->rowHeaderCells())
                touch(header);
        }
        if (QAccessibleTextInterface *text = element->textInterface())
            readPieces(text);
        if (QAccessibleValueInterface *value = element->valueInterface())
            (void)value->currentValue();
        if (QAccessibleActionInterface *actions = element->actionInterface())
            (void)actions->actionNames();

        // A reader asks by a count it read a moment before: a child past it is none, and a
        // row past a table's is still a cell (the bus uses it unchecked).
        const int count = element->childCount();
        const QString name = QLatin1String(element->object() ? element->object()->metaObject()->className() : "cell");
        if (element->child(count))
            warnings() << name + QStringLiteral(" has a child past its count");
        if (QAccessibleTableInterface *table = element->tableInterface();
            table && !table->cellAt(table->rowCount(), 0))
            warnings() << name + QStringLiteral(" has no cell for a row past its rows");
        for (int i = 0; i < count; ++i) {
            QAccessibleInterface *child = element->child(i);
            if (child)
                (void)element->indexOfChild(child);
            read(child, depth + 1);
        }
    }

    // The character, word, sentence, line and paragraph at, before and after the text's edges,
    // as a reader asks at the caret: each an answer, and a part of the text where it says.
    static void readPieces(QAccessibleTextInterface *text)
    {
        const int count = text->characterCount();
        const QString whole = text->text(0, count);
        for (const auto boundary : {QAccessible::CharBoundary, QAccessible::WordBoundary, QAccessible::SentenceBoundary,
                                    QAccessible::ParagraphBoundary, QAccessible::LineBoundary, QAccessible::NoBoundary}) {
            for (const int offset : {-1, 0, count - 1, count, count + 1}) {
                for (const auto question : {&QAccessibleTextInterface::textBeforeOffset,
                                            &QAccessibleTextInterface::textAtOffset,
                                            &QAccessibleTextInterface::textAfterOffset}) {
                    int start = 0, end = 0;
                    const QString piece = (text->*question)(offset, boundary, &start, &end);
                    if (!piece.isEmpty() && whole.mid(start, end - start) != piece)
                        warnings() << QStringLiteral("the text \"%1\" has no \"%2\" at %3").arg(whole, piece).arg(start);
                }
            }
        }
    }

    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }

    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        const QByteArray category(context.category);
        if (type == QtDebugMsg && category == "qt.accessibility.cache")
            return;
        // A reader on the bus may ask about an element that went between its walk and its
        // request (a removed row's cell); the bridge answers that it is gone and says so.
        if (message.contains(QLatin1String("Accessible invalid")) || message.contains(QLatin1String("Could not find accessible")))
            return;
        if (type != QtDebugMsg && (category.startsWith("qt.accessibility") || message.contains(QLatin1String("LibraryTable"))))
            warnings() << message;
        if (previous())
            previous()(type, context, message);
    }

    QTimer timer_;
    QSet<QAccessibleInterface *> seen_;
    QSet<QAccessible::Id> known_;
    int walks_ = 0;
};

void key(QWidget *to, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(to, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(to, &release);
}

// A button pressed with the pointer: it takes the focus first, as a click gives it.
bool pointerPress(const QWidget *root, const QString &name)
{
    QAbstractButton *found = nullptr;
    const auto find = [&] {
        for (QAbstractButton *candidate : root->findChildren<QAbstractButton *>()) {
            if (candidate->isVisible() && (candidate->text() == name || candidate->accessibleName() == name))
                return candidate;
        }
        return static_cast<QAbstractButton *>(nullptr);
    };
    if (!pumpUntil([&] { return (found = find()) && found->isEnabled(); }))
        return false;
    found->setFocus(Qt::MouseFocusReason);
    found->click();
    return true;
}

// The walks through the program's windows that the reader on the accessibility bus ended
// (run_on_accessibility_bus.sh names the file where it counts them).
int busReaderWalks()
{
    QFile walks(QString::fromLocal8Bit(qgetenv("TAMPOD_BUS_READER_WALKS")));
    return walks.open(QIODevice::ReadOnly) ? int(walks.readAll().count('\n')) : 0;
}

// Waits until the reader on the accessibility bus has ended count walks. The event loop sleeps
// until a request comes and answers it at once, so a walk's thousands of questions take no
// longer than they must; a busy machine makes it slow all the same, and the limit is generous.
bool awaitBusReaderWalks(int count)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (busReaderWalks() >= count)
            loop.quit();
    });
    check.start(20);
    QTimer::singleShot(std::chrono::minutes(3), &loop, &QEventLoop::quit);
    loop.exec();
    return busReaderWalks() >= count;
}

} // namespace

TEST_F(Journey, AScreenReaderReadsTheTreeWhileABatchExportsAndItsRowsChange)
{
    // One take made, and copied: the batch's work is the export.
    const QStringList takes{"a", "b", "c", "d", "e", "f"};
    writeTone(root.file(QStringLiteral("take.wav")), 12);
    for (const QString &take : takes)
        ASSERT_TRUE(QFile::copy(root.file(QStringLiteral("take.wav")), music + u'/' + take + ".wav"));
    TreeReader reader;
    open(music, int(takes.size()));
    for (int row = 0; row < takes.size(); ++row)
        clickCell(row, LibraryColumns::exportCheck);

    for (const bool cancel : {false, true}) {
        ASSERT_TRUE(pointerPress(window, QStringLiteral("Export Checked")));
        SheetDialog *sheet = awaitSheet();
        ASSERT_NE(sheet, nullptr);
        // The keyboard in the sheet, as a reader's user moves through it.
        if (auto *format = sheet->findChild<ExportFormatControls *>())
            format->format()->setFocus();
        ASSERT_TRUE(reader.awaitWalk());
        // The default button, pressed from the focused box as Return would.
        ASSERT_TRUE(press(sheet, QStringLiteral("Choose Folder…")));
        ASSERT_TRUE(answerNextPanel(out));
        ASSERT_TRUE(pumpUntil([&] { return button(sheet, QStringLiteral("Cancel Batch")) || button(sheet, QStringLiteral("Done")); }));
        // Cancelled while a row exports, where the batch has not ended by then.
        if (cancel) {
            pumpUntil([&] {
                return rowStates(sheet).contains(QStringLiteral("Exporting")) || button(sheet, QStringLiteral("Done"));
            });
            if (button(sheet, QStringLiteral("Cancel Batch")))
                pointerPress(sheet, QStringLiteral("Cancel Batch"));
        }
        ASSERT_TRUE(reader.awaitWalk());
        ASSERT_TRUE(pumpUntil([&] { return button(sheet, QStringLiteral("Done")) != nullptr; }, std::chrono::seconds(120)));
        ASSERT_TRUE(reader.awaitWalk());
        ASSERT_TRUE(pointerPress(sheet, QStringLiteral("Done")));
        ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));
        ASSERT_TRUE(reader.awaitWalk());
    }
    EXPECT_GE(filesIn(out).size(), takes.size());
    EXPECT_EQ(TreeReader::warnings(), QStringList());
}

TEST_F(Journey, AScreenReaderReadsTheTreeWhileSheetsAndWindowsOpenAndClose)
{
    writeTone(music + "/take.wav", 1);
    TreeReader reader;
    open(music + "/take.wav", 1);
    for (int round = 0; round < 2; ++round) {
        SheetDialog *sheet = openExportSheet();
        ASSERT_NE(sheet, nullptr);
        auto *format = sheet->findChild<ExportFormatControls *>()->format();
        format->setFocus();
        for (const char *tag : {"flac", "aiff", "wav"}) {
            ASSERT_TRUE(choose(format, QLatin1String(tag)));
            ASSERT_TRUE(reader.awaitWalk());
        }
        // Tips shown and taken away, as the pointer passes over the sheet's controls.
        for (QWidget *control : sheet->findChildren<QWidget *>()) {
            if (control->isVisible() && !control->toolTip().isEmpty()) {
                QToolTip::showText(control->mapToGlobal(QPoint(2, 2)), control->toolTip(), control);
                ASSERT_TRUE(reader.awaitWalk());
                QToolTip::hideText();
            }
        }
        key(sheet, Qt::Key_Escape);
        ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));
        ASSERT_TRUE(reader.awaitWalk());
    }
    const std::pair<QAction *, QString> windows[] = {{app->commands()->settingsAction(), WindowId::settings},
                                                     {app->commands()->aboutAction(), WindowId::about},
                                                     {app->commands()->manualAction(), WindowId::manual}};
    for (const auto &[action, id] : windows) {
        action->trigger();
        ASSERT_TRUE(pumpUntil([&] { return app->windows().window(id) && app->windows().window(id)->isVisible(); }));
        ASSERT_TRUE(reader.awaitWalk());
    }
    for (const QString &id : {WindowId::settings, WindowId::about, WindowId::manual}) {
        if (QWidget *shown = app->windows().window(id))
            shown->close();
        ASSERT_TRUE(reader.awaitWalk());
    }
    EXPECT_EQ(TreeReader::warnings(), QStringList());
}

TEST_F(Journey, AScreenReaderReadsTheTreeWhileTheLibraryChanges)
{
    for (const char *take : {"a", "b", "c", "d"})
        writeTone(music + u'/' + QLatin1String(take) + ".wav", 1);
    TreeReader reader;
    open(music, 4);
    table().setFocus();
    // Rows selected, checked, loaded and removed, one by one and all at once.
    // A walk after each change reads the rows as that change left them.
    for (int row = 0; row < 4; ++row) {
        clickCell(row, LibraryColumns::name);
        ASSERT_TRUE(reader.awaitWalk());
        clickCell(row, LibraryColumns::exportCheck);
        ASSERT_TRUE(reader.awaitWalk());
    }
    key(&table(), Qt::Key_Up);
    ASSERT_TRUE(reader.awaitWalk());
    key(&table(), Qt::Key_Delete);
    ASSERT_TRUE(pumpUntil([&] { return table().tableModel()->rowCount() == 3; }));
    ASSERT_TRUE(reader.awaitWalk());
    open(music, 4);
    ASSERT_TRUE(reader.awaitWalk());
    table().setFocus();
    clickCell(0, LibraryColumns::name);
    clickCell(3, LibraryColumns::name, Qt::ShiftModifier);
    ASSERT_TRUE(reader.awaitWalk());
    key(&table(), Qt::Key_Delete);
    ASSERT_TRUE(pumpUntil([&] { return table().tableModel()->rowCount() == 0; }));
    ASSERT_TRUE(reader.awaitWalk());
    open(music, 4);
    ASSERT_TRUE(reader.awaitWalk());
    EXPECT_EQ(TreeReader::warnings(), QStringList());
}

// The reader on the accessibility bus asks every text at its edges, where the caret stands
// after typing: the main window's with a track loaded and the export sheet's, its spin boxes
// and fields among them. Each answers at once.
TEST_F(Journey, AScreenReaderOnTheBusHasEveryTextAnsweredAtItsEdges)
{
    if (qEnvironmentVariableIsEmpty("TAMPOD_BUS_READER_WALKS"))
        GTEST_SKIP() << "no reader on an accessibility bus";
    writeTone(music + "/batch_01.wav", 1);
    open(music + "/batch_01.wav", 1);
    SheetDialog *sheet = openExportSheet();
    ASSERT_NE(sheet, nullptr);
    // The second walk that ends from now began with the sheet open. A walk asks thousands of
    // questions, each a turn of this event loop: on a busy machine it takes a while.
    EXPECT_TRUE(awaitBusReaderWalks(busReaderWalks() + 2));
    key(sheet, Qt::Key_Escape);
    ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));
}

namespace {

// Asks the library table on the accessibility bus, as a reader in another program does, and
// waits for the answer while the application goes on answering.
class BusReader {
public:
    explicit BusReader(const QString &name = QStringLiteral("journey reader"))
        : name_(name), bus_(QDBusConnection::connectToBus(address(), name))
    {
    }
    ~BusReader() { QDBusConnection::disconnectFromBus(name_); }

    bool isConnected() const { return bus_.isConnected(); }

    // The answer's values as texts (a map as its keys), or the error's name.
    QStringList ask(QAccessibleInterface *element, const QString &interface, const QString &method,
                     const QVariantList &arguments)
    {
        return ask(pathOf(element), interface, method, arguments);
    }
    QStringList ask(const QString &path, const QString &interface, const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(service(), path, interface, method);
        call.setArguments(arguments);
        // A busy machine answers late, not never: a minute guards against a hang and still ends
        // within the shard's own limit, so the unanswered call is the failure shown.
        QDBusPendingCall pending = bus_.asyncCall(call, 60'000);
        pumpUntil([&] { return pending.isFinished(); });
        if (pending.isError())
            return {pending.error().name()};
        QStringList values;
        for (QVariant value : pending.reply().arguments()) {
            if (value.metaType() == QMetaType::fromType<QDBusVariant>())
                value = qvariant_cast<QDBusVariant>(value).variant();
            const QDBusArgument map = value.value<QDBusArgument>();
            if (!value.canConvert<QDBusArgument>() || map.currentType() != QDBusArgument::MapType) {
                values << value.toString();
                continue;
            }
            QStringList keys;
            map.beginMap();
            while (!map.atEnd()) {
                map.beginMapEntry();
                keys << map.asVariant().toString();
                map.asVariant();
                map.endMapEntry();
            }
            map.endMap();
            keys.sort();
            values << keys.join(u',');
        }
        return values;
    }

    // Asks count times at once, as a flooding caller does, and counts the answers: "answered"
    // or the error's name.
    QMap<QString, int> askAtOnce(const QString &path, const QString &interface, const QString &method, int count)
    {
        QList<QDBusPendingCall> calls;
        for (int i = 0; i < count; ++i)
            calls << send(path, interface, method);
        pumpUntil([&] { return std::all_of(calls.cbegin(), calls.cend(), [](const auto &call) { return call.isFinished(); }); });
        return answersOf(calls);
    }

    // The calls' answers as they stand: "answered", "unanswered" or the error's name, counted.
    static QMap<QString, int> answersOf(const QList<QDBusPendingCall> &calls)
    {
        QMap<QString, int> answers;
        for (const QDBusPendingCall &call : calls)
            ++answers[!call.isFinished() ? QStringLiteral("unanswered")
                      : call.isError()   ? call.error().name()
                                         : QStringLiteral("answered")];
        return answers;
    }

    // Sends a call with no arguments; its answer comes in the bus library's thread.
    QDBusPendingCall send(const QString &path, const QString &interface, const QString &method)
    {
        return bus_.asyncCall(QDBusMessage::createMethodCall(service(), path, interface, method), 60'000);
    }

    static QString pathOf(QAccessibleInterface *element)
    {
        return QStringLiteral("/org/a11y/atspi/accessible/%1").arg(QAccessible::uniqueId(element));
    }
    static QString service() { return QDBusConnection(QStringLiteral("a11y")).baseService(); }

    static QString address()
    {
        QDBusMessage reply = QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"), QStringLiteral("org.a11y.Bus"),
            QStringLiteral("GetAddress")));
        return reply.arguments().value(0).toString();
    }

private:
    QString name_;
    QDBusConnection bus_;
};

const QString tableInterfaceName = QStringLiteral("org.a11y.atspi.Table");
const QString accessibleInterfaceName = QStringLiteral("org.a11y.atspi.Accessible");
const QString propertiesInterfaceName = QStringLiteral("org.freedesktop.DBus.Properties");
const QString rootPath = QStringLiteral("/org/a11y/atspi/accessible/root");
const QString invalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");

bool guardStandsInFront()
{
    return pumpUntil(
        [] {
            return dynamic_cast<AccessibleBusGuard *>(QDBusConnection(QStringLiteral("a11y")).objectRegisteredAt(
                       QStringLiteral("/org/a11y/atspi/accessible"))) != nullptr;
        },
        std::chrono::seconds(60));
}

// What a stock bus tool prints for an element's introspection, properties and their values
// included, or its error.
bool busctlIntrospects(const QString &path, QString *output)
{
    QProcess busctl;
    busctl.start(QStringLiteral("busctl"), {QStringLiteral("--address=") + BusReader::address(),
                                            QStringLiteral("introspect"), BusReader::service(), path});
    const bool ended = pumpUntil([&] { return busctl.state() == QProcess::NotRunning; });
    *output = QString::fromUtf8(busctl.readAllStandardOutput() + busctl.readAllStandardError());
    return ended && busctl.exitStatus() == QProcess::NormalExit && busctl.exitCode() == 0;
}

} // namespace

// A reader asks for a cell by its index: past the last cell, there is none, and the answer says
// so; a table question to a cell is refused, and the program goes on.
TEST_F(Journey, AScreenReaderOnTheBusHearsThatNoCellLiesPastTheTable)
{
    if (qEnvironmentVariableIsEmpty("TAMPOD_BUS_READER_WALKS"))
        GTEST_SKIP() << "no reader on an accessibility bus";
    for (const char *take : {"a", "b"})
        writeTone(music + u'/' + QLatin1String(take) + ".wav", 1);
    open(music, 2);
    // Once the bridge is on the bus, the guard stands in front of it.
    ASSERT_TRUE(guardStandsInFront());
    QAccessibleInterface *element = QAccessible::queryAccessibleInterface(&table());
    ASSERT_NE(element, nullptr);
    const int cells = element->tableInterface()->rowCount() * element->tableInterface()->columnCount();
    BusReader reader;
    ASSERT_TRUE(reader.isConnected());
    const auto extents = [&](int index) {
        return reader.ask(element, tableInterfaceName, QStringLiteral("GetRowColumnExtentsAtIndex"), {index});
    };
    const int columns = element->tableInterface()->columnCount();
    EXPECT_EQ(extents(columns + 1), QStringList({"true", "1", "1", "1", "1", "false"}));
    for (int past : {cells, cells + 7, -1})
        EXPECT_EQ(extents(past), QStringList({"false", "-1", "-1", "-1", "-1", "false"})) << past;
    QAccessibleInterface *cell = element->tableInterface()->cellAt(0, 0);
    EXPECT_EQ(reader.ask(cell, tableInterfaceName, QStringLiteral("GetRowColumnExtentsAtIndex"), {0}),
              QStringList{"org.freedesktop.DBus.Error.UnknownInterface"});
    EXPECT_EQ(reader.ask(cell, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                         {tableInterfaceName, QStringLiteral("NRows")}),
              QStringList{"org.freedesktop.DBus.Error.UnknownInterface"});
    // Everything else is the bridge's, as before.
    EXPECT_EQ(reader.ask(element, QStringLiteral("org.a11y.atspi.Accessible"), QStringLiteral("GetRoleName"), {}),
              QStringList{"table"});
}

// Whatever a process of the session sends on the accessibility bus, short of arguments, with
// arguments of other types, or asking for every property, is answered, and the program goes on.
TEST_F(Journey, AScreenReaderOnTheBusCannotEndTheProgramWithAMalformedMessage)
{
    if (qEnvironmentVariableIsEmpty("TAMPOD_BUS_READER_WALKS"))
        GTEST_SKIP() << "no reader on an accessibility bus";
    writeTone(music + "/a.wav", 1);
    open(music, 1);
    ASSERT_TRUE(guardStandsInFront());
    const QString library = BusReader::pathOf(QAccessible::queryAccessibleInterface(&table()));
    HardwareSlider *volume = nullptr;
    for (HardwareSlider *candidate : window->findChildren<HardwareSlider *>())
        if (candidate->accessibleName() == MainViewText::playbackVolume)
            volume = candidate;
    ASSERT_NE(volume, nullptr);
    const QString slider = BusReader::pathOf(QAccessible::queryAccessibleInterface(volume));
    QWidget probe;
    makeAccessible(&probe, QAccessible::StaticText);
    setAccessibleValue(&probe, QStringLiteral("日é 🎵"));
    const QString text = BusReader::pathOf(QAccessible::queryAccessibleInterface(&probe));
    const QString get = QStringLiteral("Get"), getAll = QStringLiteral("GetAll");
    struct Case {
        QString path, interface, method;
        QVariantList arguments;
        QStringList answer;
    };
    const Case cases[] = {
        {rootPath, propertiesInterfaceName, getAll, {accessibleInterfaceName}, {"ChildCount,Description,Name,Parent"}},
        {rootPath, propertiesInterfaceName, get, {accessibleInterfaceName}, {invalidArgs}},
        {rootPath, propertiesInterfaceName, get, {accessibleInterfaceName, "Nothing"},
         {"org.freedesktop.DBus.Error.UnknownProperty"}},
        {rootPath, accessibleInterfaceName, "GetChildAtIndex", {}, {invalidArgs}},
        {rootPath, accessibleInterfaceName, "GetChildAtIndex", {QStringLiteral("0")}, {invalidArgs}},
        {rootPath, "org.a11y.atspi.Application", "GetLocale", {}, {invalidArgs}},
        // The bridge declines this one: the element is there all the same.
        {rootPath, "org.a11y.atspi.Application", "GetApplicationBusAddress", {}, {"org.freedesktop.DBus.Error.NotSupported"}},
        {library, propertiesInterfaceName, getAll, {tableInterfaceName},
         {"Caption,NColumns,NRows,NSelectedColumns,NSelectedRows,Summary"}},
        {library, tableInterfaceName, "GetRowColumnExtentsAtIndex", {}, {invalidArgs}},
        {library, tableInterfaceName, "GetAccessibleAt", {}, {invalidArgs}},
        {library, tableInterfaceName, "GetAccessibleAt", {0}, {invalidArgs}},
        {library, "org.a11y.atspi.Text", "GetText", {0, 1}, {"org.freedesktop.DBus.Error.UnknownInterface"}},
        {library, accessibleInterfaceName, "NoSuchMethod", {}, {"org.freedesktop.DBus.Error.UnknownMethod"}},
        {slider, "org.a11y.atspi.Value", "SetCurrentValue", {0.25}, {}},
        {slider, accessibleInterfaceName, "GetAttributes", {}, {"valuetext"}},
        {text, "org.a11y.atspi.Text", "GetCharacterAtOffset", {0}, {QString::number(0x65e5)}},
        {text, "org.a11y.atspi.Text", "GetCharacterAtOffset", {3}, {QString::number(0x1f3b5)}},
        {text, "org.a11y.atspi.Text", "GetText", {1, -1}, {QStringLiteral("é 🎵")}},
        {text, "org.a11y.atspi.Text", "GetText", {3, 1}, {QString()}},
        {BusReader::pathOf(QAccessible::queryAccessibleInterface(&probe)) + "7", accessibleInterfaceName, "GetRole", {},
         {"org.freedesktop.DBus.Error.UnknownObject"}},
    };
    BusReader reader;
    ASSERT_TRUE(reader.isConnected());
    for (const Case &asked : cases)
        EXPECT_EQ(reader.ask(asked.path, asked.interface, asked.method, asked.arguments), asked.answer)
            << asked.path.toStdString() << " " << asked.method.toStdString();
    EXPECT_DOUBLE_EQ(volume->value(), 0.25);
    // Every element of the main window answers for all its properties.
    QList<QAccessibleInterface *> elements{QAccessible::queryAccessibleInterface(window)};
    for (qsizetype i = 0; i < elements.size() && elements.size() < 400; ++i)
        for (int child = 0; child < elements[i]->childCount(); ++child)
            if (QAccessibleInterface *found = elements[i]->child(child))
                elements << found;
    EXPECT_GT(elements.size(), 20);
    for (QAccessibleInterface *element : elements)
        EXPECT_EQ(reader.ask(element, propertiesInterfaceName, getAll, {accessibleInterfaceName}),
                  QStringList{"ChildCount,Description,Name,Parent"})
            << element->text(QAccessible::Name).toStdString();
    for (const QString &path : {rootPath, library, slider, text}) {
        QString printed;
        EXPECT_TRUE(busctlIntrospects(path, &printed)) << printed.toStdString();
    }
    EXPECT_EQ(reader.ask(library, accessibleInterfaceName, QStringLiteral("GetRoleName"), {}), QStringList{"table"});
}

// A caller flooding the bus has its calls past a few waiting refused at once, and
// introspections past a few a second, while a reader asking meanwhile is answered; every call
// has its answer.
TEST_F(Journey, AScreenReaderOnTheBusIsAnsweredBesideACallerThatFloods)
{
    if (qEnvironmentVariableIsEmpty("TAMPOD_BUS_READER_WALKS"))
        GTEST_SKIP() << "no reader on an accessibility bus";
    writeTone(music + "/a.wav", 1);
    open(music, 1);
    ASSERT_TRUE(guardStandsInFront());
    const QString library = BusReader::pathOf(QAccessible::queryAccessibleInterface(&table()));
    const QString limits = QStringLiteral("org.freedesktop.DBus.Error.LimitsExceeded");
    BusReader flood(QStringLiteral("journey flood"));
    ASSERT_TRUE(flood.isConnected());
    const int many = 8 * BusCallQueue::callerBound;
    const QMap<QString, int> roles = flood.askAtOnce(library, accessibleInterfaceName, QStringLiteral("GetRole"), many);
    EXPECT_EQ(roles.value(QStringLiteral("answered")) + roles.value(limits), many);
    EXPECT_GE(roles.value(QStringLiteral("answered")), BusCallQueue::callerBound);
    // Fewer at once than a caller may have waiting, yet more in a few seconds than it may
    // introspect: however slow the machine, they come faster than the bound.
    int introspected = 0, refused = 0;
    const int batch = BusCallQueue::callerBound - 1;
    for (int asked = 0; asked < 40 * BusCallQueue::introspectionsPerSecond && refused == 0; asked += batch) {
        const QMap<QString, int> answers = flood.askAtOnce(library, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                                           QStringLiteral("Introspect"), batch);
        introspected += answers.value(QStringLiteral("answered"));
        refused += answers.value(limits);
        ASSERT_EQ(answers.value(QStringLiteral("answered")) + answers.value(limits), batch);
    }
    EXPECT_GE(introspected, BusCallQueue::introspectionsPerSecond);
    EXPECT_GT(refused, 0);
    BusReader reader;
    ASSERT_TRUE(reader.isConnected());
    EXPECT_EQ(reader.ask(library, accessibleInterfaceName, QStringLiteral("GetRoleName"), {}), QStringList{"table"});
}

// A flood that comes while the main thread is busy has its calls past a few waiting refused at
// once, where the bus library reads them: the main thread, which serves the calls taken, is not
// needed to refuse the rest, and no flood piles up in its events. Here the main thread blocks
// until the refusals come; the calls taken are answered once it runs again.
TEST_F(Journey, AScreenReaderOnTheBusHasAFloodRefusedWhileTheMainThreadIsBusy)
{
    if (qEnvironmentVariableIsEmpty("TAMPOD_BUS_READER_WALKS"))
        GTEST_SKIP() << "no reader on an accessibility bus";
    writeTone(music + "/a.wav", 1);
    open(music, 1);
    ASSERT_TRUE(guardStandsInFront());
    const QString library = BusReader::pathOf(QAccessible::queryAccessibleInterface(&table()));
    BusReader flood(QStringLiteral("journey flood on a busy program"));
    ASSERT_TRUE(flood.isConnected());
    QList<QDBusPendingCall> taken, refused;
    for (int i = 0; i < BusCallQueue::callerBound + 16; ++i)
        (i < BusCallQueue::callerBound ? taken : refused) << flood.send(library, accessibleInterfaceName,
                                                                        QStringLiteral("GetRole"));
    // Waiting for an answer does not turn this thread's event loop; a call that got none in
    // its time ends as NoReply.
    for (QDBusPendingCall &call : refused)
        call.waitForFinished();
    // The calls' answers, as "answer: count" each.
    const auto answers = [](const QList<QDBusPendingCall> &calls) {
        QStringList counted;
        const QMap<QString, int> counts = BusReader::answersOf(calls);
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            counted << QStringLiteral("%1: %2").arg(it.key()).arg(it.value());
        return counted.join(QStringLiteral(", ")).toStdString();
    };
    const std::string bound = std::to_string(BusCallQueue::callerBound);
    EXPECT_EQ(answers(refused), "org.freedesktop.DBus.Error.LimitsExceeded: 16");
    EXPECT_EQ(answers(taken), "unanswered: " + bound);
    ASSERT_TRUE(pumpUntil([&] { return !BusReader::answersOf(taken).contains(QStringLiteral("unanswered")); }));
    EXPECT_EQ(answers(taken), "answered: " + bound);
}

// Numbers no text holds, sent by any program on the bus, are brought within the text before
// the bridge sees them: a range to the largest offset, or from the smallest, is the whole text
// or its start, and the program answers the next call (the bridge looped to the largest offset
// and never answered again); an inserted text is inserted as it is, whatever length comes with
// it (the bridge filled the field to the length with whatever memory held); and calls the
// bridge takes without ever answering are answered.
TEST_F(Journey, AScreenReaderOnTheBusHasEveryRangeAndLengthBoundedByTheText)
{
    if (qEnvironmentVariableIsEmpty("TAMPOD_BUS_READER_WALKS"))
        GTEST_SKIP() << "no reader on an accessibility bus";
    writeTone(music + "/a.wav", 1);
    open(music, 1);
    ASSERT_TRUE(guardStandsInFront());
    auto *sheet = qobject_cast<AudioExportView *>(openExportSheet());
    ASSERT_NE(sheet, nullptr);
    QLineEdit *field = sheet->baseNameField();
    field->setText(QStringLiteral("take"));
    QWidget *elapsed = nullptr;
    for (QWidget *candidate : window->findChildren<QWidget *>())
        if (candidate->accessibleName() == MainViewText::elapsedTime)
            elapsed = candidate;
    ASSERT_NE(elapsed, nullptr);
    BusReader reader;
    ASSERT_TRUE(reader.isConnected());
    const QString text = QStringLiteral("org.a11y.atspi.Text");
    for (QWidget *widget : {elapsed, static_cast<QWidget *>(field)}) {
        QAccessibleInterface *element = QAccessible::queryAccessibleInterface(widget);
        const auto extents = [&](int start, int end) {
            return reader.ask(element, text, QStringLiteral("GetRangeExtents"), {start, end, 0u});
        };
        const QStringList whole = extents(0, -1);
        ASSERT_EQ(whole.size(), 4) << whole.join(u' ').toStdString();
        EXPECT_EQ(extents(0, INT_MAX), whole);
        EXPECT_EQ(extents(INT_MIN, 5), extents(0, 5));
        EXPECT_EQ(reader.ask(element, accessibleInterfaceName, QStringLiteral("GetRoleName"), {}),
                  QStringList{widget == field ? QStringLiteral("text") : QStringLiteral("label")});
    }
    QAccessibleInterface *editable = QAccessible::queryAccessibleInterface(field);
    const std::pair<QString, int> insertions[] = {{QStringLiteral("日本"), 6}, {QStringLiteral("é"), 2}, {QStringLiteral("ab"), 3000}};
    for (const auto &[inserted, length] : insertions) {
        field->clear();
        EXPECT_EQ(reader.ask(editable, QStringLiteral("org.a11y.atspi.EditableText"), QStringLiteral("InsertText"),
                             {0, inserted, length}),
                  QStringList{"true"});
        EXPECT_EQ(field->text(), inserted) << length;
    }
    const auto setId = [&](const QVariant &value) {
        return reader.ask(rootPath, propertiesInterfaceName, QStringLiteral("Set"),
                          {QStringLiteral("org.a11y.atspi.Application"), QStringLiteral("Id"),
                           QVariant::fromValue(QDBusVariant(value))});
    };
    EXPECT_EQ(setId(7), QStringList());
    // A value of another type is refused, not read as 0.
    EXPECT_EQ(setId(QStringLiteral("12")), QStringList{invalidArgs});
    EXPECT_EQ(setId(9.5), QStringList{invalidArgs});
    EXPECT_EQ(reader.ask(rootPath, propertiesInterfaceName, QStringLiteral("Get"),
                         {QStringLiteral("org.a11y.atspi.Application"), QStringLiteral("Id")}),
              QStringList{"7"});
    EXPECT_EQ(reader.ask(editable, text, QStringLiteral("GetBoundedRanges"), {0, 0, 400, 400, 0u, 0u, 0u}),
              QStringList{"org.freedesktop.DBus.Error.NotSupported"});
    EXPECT_EQ(reader.ask(editable, accessibleInterfaceName, QStringLiteral("GetRoleName"), {}), QStringList{"text"});
}

namespace {

const QString editableTextInterfaceName = QStringLiteral("org.a11y.atspi.EditableText");

// A text set in a field as a reader, a dictation tool or an on-screen keyboard sets it on the
// accessibility bus: the whole text, or an insertion at the end.
QStringList setOverTheBus(BusReader &reader, QLineEdit *field, const QString &text)
{
    return reader.ask(QAccessible::queryAccessibleInterface(field), editableTextInterfaceName,
                      QStringLiteral("SetTextContents"), {text});
}
QStringList insertOverTheBus(BusReader &reader, QLineEdit *field, const QString &text)
{
    return reader.ask(QAccessible::queryAccessibleInterface(field), editableTextInterfaceName,
                      QStringLiteral("InsertText"), {int(field->text().size()), text, int(text.size())});
}

} // namespace

// A rate entered on the bus is the rate the listening copy is made at, and an emptied field
// holds Prepare back, as typing does: not only a text shown.
TEST_F(Journey, AScreenReaderOnTheBusSetsTheRateTheSD2CopyIsMadeAt)
{
    if (qEnvironmentVariableIsEmpty("TAMPOD_BUS_READER_WALKS"))
        GTEST_SKIP() << "no reader on an accessibility bus";
    // A take whose parameters are lost: 44,100 stereo frames of 16-bit samples, read at 44.1 kHz
    // until a rate is assumed.
    const QString take = music + "/take.sd2";
    QByteArray samples(44100 * 4, 0);
    for (qsizetype i = 0; i < samples.size(); ++i)
        samples[i] = char((i * 7) % 64);
    writeFile(take, samples);
    open(take, 1);
    ASSERT_TRUE(guardStandsInFront());
    clickCell(0, LibraryColumns::name);
    ASSERT_TRUE(pumpUntil([&] { return app->commands()->advancedSD2Action()->isEnabled(); }));
    app->commands()->advancedSD2Action()->trigger();
    SheetDialog *sheet = awaitSheet();
    ASSERT_NE(sheet, nullptr);
    auto *tools = sheet->findChild<SD2ToolsView *>();
    ASSERT_NE(tools, nullptr);
    BusReader reader;
    ASSERT_TRUE(reader.isConnected());
    EXPECT_EQ(setOverTheBus(reader, tools->rateField(), QString()), QStringList{"true"});
    EXPECT_TRUE(pumpUntil([&] { return !tools->prepareButton()->isEnabled(); }, std::chrono::seconds(5)))
        << "field \"" << tools->rateField()->text().toStdString() << "\" enabled " << tools->rateField()->isEnabled()
        << " visible " << tools->rateField()->isVisible();
    EXPECT_EQ(setOverTheBus(reader, tools->rateField(), QStringLiteral("2205")), QStringList{"true"});
    EXPECT_EQ(insertOverTheBus(reader, tools->rateField(), QStringLiteral("0")), QStringList{"true"});
    ASSERT_TRUE(pumpUntil([&] { return tools->prepareButton()->isEnabled(); }));
    // The copy made at load, at the rate assumed then, is replaced by the one prepared now.
    const auto copyNow = [&]() -> std::shared_ptr<const SD2RecoveredCopy> {
        const QList<AudioTrack> tracks = player().tracks();
        return tracks.size() == 1 && tracks.first().recovery ? tracks.first().recovery->copy : nullptr;
    };
    const std::shared_ptr<const SD2RecoveredCopy> before = copyNow();
    tools->prepareButton()->click();
    ASSERT_TRUE(pumpUntil([&] { return copyNow() && copyNow() != before && !player().recoveryStatus(); },
                          std::chrono::seconds(60)));
    const std::shared_ptr<const SD2RecoveredCopy> copy = copyNow();
    EXPECT_EQ(copy->sampleRate(), 22050);
    EXPECT_EQ(copy->frames(), 44100); // two seconds long
}

// The pair's base name, set or added to on the bus, names the files the export writes.
TEST_F(Journey, AScreenReaderOnTheBusNamesThePairsFiles)
{
    if (qEnvironmentVariableIsEmpty("TAMPOD_BUS_READER_WALKS"))
        GTEST_SKIP() << "no reader on an accessibility bus";
    const QString pair = root.file(QStringLiteral("pair"));
    QDir().mkpath(pair);
    writeSD2Channel(pair + "/Take.L", 44100);
    writeSD2Channel(pair + "/Take.R", 44100);
    open(pair, 2);
    ASSERT_TRUE(guardStandsInFront());
    clickCell(0, LibraryColumns::name);
    clickCell(1, LibraryColumns::name, Qt::ControlModifier);
    ASSERT_TRUE(press(window, QStringLiteral("Link L and R")));
    ASSERT_TRUE(pumpUntil([&] { return player().tracks().size() == 1 && player().tracks().first().pair; },
                          std::chrono::seconds(30)));
    clickCell(0, LibraryColumns::name);
    BusReader reader;
    ASSERT_TRUE(reader.isConnected());

    // Set, then added to.
    const std::pair<bool, QString> names[] = {{false, QStringLiteral("Spoken")}, {true, QStringLiteral("Spoken again")}};
    for (const auto &[added, name] : names) {
        auto *sheet = qobject_cast<AudioExportView *>(openExportSheet());
        ASSERT_NE(sheet, nullptr);
        ASSERT_TRUE(choose(sheet->pairOutputPicker(), QStringLiteral("Separate left/right mono files")));
        ASSERT_TRUE(pumpUntil([&] { return sheet->baseNameField()->isVisible(); }));
        if (added) {
            EXPECT_EQ(setOverTheBus(reader, sheet->baseNameField(), QStringLiteral("Spoken")), QStringList{"true"});
            EXPECT_EQ(insertOverTheBus(reader, sheet->baseNameField(), QStringLiteral(" again")), QStringList{"true"});
        } else {
            EXPECT_EQ(setOverTheBus(reader, sheet->baseNameField(), name), QStringList{"true"});
        }
        const QString folder = root.file(name);
        QDir().mkpath(folder);
        ASSERT_TRUE(press(sheet, QStringLiteral("Choose Folder…")));
        ASSERT_TRUE(answerNextPanel(folder));
        ASSERT_TRUE(pumpUntil([&] { return button(sheet, QStringLiteral("Done")) != nullptr; }, std::chrono::seconds(30)));
        EXPECT_EQ(filesIn(folder), (QStringList{name + ".L.wav", name + ".R.wav"}));
        ASSERT_TRUE(press(sheet, QStringLiteral("Done")));
        ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));
    }

}

// The loop's repeat count, set or added to on the bus, is what the export writes: 4 repeats
// are twice as long as 2.
TEST_F(Journey, AScreenReaderOnTheBusCountsTheLoopsRepeats)
{
    if (qEnvironmentVariableIsEmpty("TAMPOD_BUS_READER_WALKS"))
        GTEST_SKIP() << "no reader on an accessibility bus";
    writeTone(music + "/take.wav", 4);
    open(music + "/take.wav", 1);
    ASSERT_TRUE(guardStandsInFront());
    BusReader reader;
    ASSERT_TRUE(reader.isConnected());
    ASSERT_TRUE(press(window, QStringLiteral("Loop selected region")));
    ASSERT_TRUE(pumpUntil([&] { return player().sectionLoop().range() && player().sectionLoop().prepared(); },
                          std::chrono::seconds(30)));
    std::int64_t frames[2] = {0, 0};
    for (const int repeats : {2, 4}) {
        auto *sheet = qobject_cast<AudioExportView *>(openExportSheet());
        ASSERT_NE(sheet, nullptr);
        QLineEdit *field = sheet->loopControls()->repeatField();
        ASSERT_TRUE(pumpUntil([&] { return field->isVisible(); }));
        if (repeats == 2) {
            EXPECT_EQ(setOverTheBus(reader, field, QStringLiteral("2")), QStringList{"true"});
        } else {
            EXPECT_EQ(setOverTheBus(reader, field, QString()), QStringList{"true"});
            EXPECT_EQ(insertOverTheBus(reader, field, QStringLiteral("4")), QStringList{"true"});
        }
        const QString folder = root.file(QStringLiteral("loop%1").arg(repeats));
        QDir().mkpath(folder);
        ASSERT_TRUE(press(sheet, QStringLiteral("Save Loop…")));
        ASSERT_TRUE(answerNextPanel(folder + "/loop.wav"));
        ASSERT_TRUE(pumpUntil([&] { return button(sheet, QStringLiteral("Done")) != nullptr; }, std::chrono::seconds(30)));
        frames[repeats / 4] = decodedFrames(folder + "/loop.wav");
        ASSERT_TRUE(press(sheet, QStringLiteral("Done")));
        ASSERT_TRUE(pumpUntil([] { return Journey::sheet() == nullptr; }));
    }
    EXPECT_GT(frames[0], 0);
    EXPECT_NEAR(double(frames[1]), 2.0 * double(frames[0]), 2.0) << frames[0] << " " << frames[1];
}
