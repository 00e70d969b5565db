// 文件 → 选项… and the ticks of the preview, driven through the real window.

#include "testutil.h"
#include "windowtest.h"

#include "app/form1.h"
#include "app/startup.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QStyleOptionViewItem>
#include <QTabWidget>
#include <QTableView>

using namespace testutil;
using namespace windowtest;

class TestOptions : public QObject
{
    Q_OBJECT

    template <typename T = QWidget> static T *control(QWidget *in, const QString &name)
    {
        T *found = in->findChild<T *>(name);
        if (!found)
            qFatal("no control %s", qPrintable(name));
        return found;
    }
    void newWindow()
    {
        delete m_form;
        m_form = new Form1;
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form));
        m_form->chooseDirectory(m_tmp->path());
    }
    void fill(const QString &fields)
    {
        for (const QString &f : fields.split(' ', Qt::SkipEmptyParts))
            control<QLineEdit>(m_form, f.section('=', 0, 0))->setText(f.section('=', 1));
    }
    // "a.txt=x gbk:旧.txt=gbk:y": names and contents ("gbk:" for GBK bytes, "le:" for UTF-16LE with its
    // mark).
    static QByteArray bytes(const QString &text)
    {
        return text.startsWith("gbk:")  ? gbk(text.mid(4))
               : text.startsWith("le:") ? "\xFF\xFE" + le(text.mid(3))
                                        : text.toUtf8();
    }
    void files(const QString &list)
    {
        for (const QString &f : list.split(' ', Qt::SkipEmptyParts))
            write(m_tmp->path(), bytes(f.section('=', 0, 0)), bytes(f.section('=', 1)));
    }
    QString folder() { return QDir(m_tmp->path()).entryList(QDir::Files).join(' '); }
    // The choices as the line below the window names them (whole in its tooltip), or nothing.
    QString choicesLine()
    {
        auto *line = control<QLabel>(m_form, "choices");
        return line->isVisible() && !line->text().isEmpty() ? line->toolTip().section('\n', 0, 0) : QString();
    }
    void waitForEndOfRun()
    {
        QTRY_VERIFY_WITH_TIMEOUT(control<QLabel>(m_form, "Label1")->text().isEmpty(), 60000);
    }
    // Opens 预览… once the rules let it, and hands the dialog over.
    void preview(std::function<void(QWidget *)> handle)
    {
        QTRY_VERIFY_WITH_TIMEOUT(control<QAction>(m_form, "preview")->isEnabled(), 5000);
        when_modal(std::move(handle));
        control<QAction>(m_form, "preview")->trigger();
        waitForEndOfRun();
    }
    // Opens 文件 → 选项… with Alt+F and a click, and hands the dialog over.
    void openOptions(std::function<void(QWidget *)> handle)
    {
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form));
        QTest::keyClick(m_form, Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        bool opened = false;
        when_modal([&](QWidget *dialog) {
            opened = dialog->objectName() == "OptionsDialog";
            handle(dialog);
        });
        QTest::mouseClick(menu, Qt::LeftButton, {},
                          menu->actionGeometry(control<QAction>(m_form, "options")).center());
        QVERIFY(opened);
        QVERIFY(!QApplication::activeModalWidget());
    }
    // The rows of the preview's table shown: "[x] a.txt 1.txt", "[ ] b.txt 不处理", " index.htm ...".
    static QStringList rows(QWidget *dialog)
    {
        auto *model = dialog->findChild<QTabWidget *>()->currentWidget()->findChild<QTableView *>()->model();
        QStringList shown;
        for (int r = 0; r < model->rowCount(); ++r) {
            const QVariant tick = model->index(r, 0).data(Qt::CheckStateRole);
            QStringList cells{!tick.isValid() ? "" : tick.toInt() == Qt::Checked ? "[x]" : "[ ]"};
            for (int c = 0; c < model->columnCount(); ++c)
                cells << model->index(r, c).data().toString();
            shown << cells.join(' ');
        }
        return shown;
    }

    Form1 *m_form = nullptr;
    TempDir *m_tmp = nullptr;
    BoxAnswerer *m_boxes = nullptr;

private slots:
    void initTestCase()
    {
        name_application();
        install_translations(*qApp);
        QVERIFY(QSettings().fileName().startsWith(kConfigHome.path()));
    }
    void init()
    {
        QSettings().clear();
        m_tmp = new TempDir;
        m_boxes = new BoxAnswerer;
        newWindow();
    }
    void cleanup()
    {
        delete m_form;
        m_form = nullptr;
        delete m_boxes;
        delete m_tmp;
    }

    // The dialog, clicked and typed into: a regular expression is checked as it is ticked, the
    // choices show in the line below the window and are there again after a restart.
    void optionsDialog_data()
    {
        QTest::addColumn<QString>(
            "row"); // search text | clicks and keys in the dialog | its check | the line after
        QTest::newRow("photos only, any case")
            << u(" | ignoreCase include=*.jpg;*.PNG ok |  | 选项：仅 *.jpg、*.PNG；忽略大小写");
        QTest::newRow("full-width separator, Enter")
            << u(" | exclude=desktop.ini；*.tmp Return |  | 选项：不含 desktop.ini、*.tmp");
        QTest::newRow("a good expression")
            << u("(\\d+)-(\\d+) | regex ok | 是有效的正则表达式 | 选项：正则表达式");
        QTest::newRow("a wrong expression, said with its place")
            << u("ab(c | regex ok | 在第 5 个字符处有错误 | 选项：正则表达式");
        QTest::newRow("a group the expression lacks")
            << u("(a) | regex Text4 ok | 只有 1 个组 | 选项：正则表达式");
        QTest::newRow("cancelled") << u(" | regex include=*.jpg cancel |  | ");
        QTest::newRow("Escape") << u(" | ignoreCase Escape |  | ");
        QTest::newRow("cleared") << u(" | regex include=*.jpg clear ok |  | ");
    }
    void optionsDialog()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(" | ");
        fill("Text3=" + part[0].trimmed() + (part[1].contains("Text4") ? " Text4=$2" : ""));
        QString check;
        openOptions([&](QWidget *dialog) {
            const QStringList steps = part[1].split(' ');
            for (const QString &step : steps) {
                const QString name = step.section('=', 0, 0);
                auto *box = dialog->findChild<QCheckBox *>(name);
                if (&step == &steps.last()) // what the dialog says before it closes
                    check = control<QLabel>(dialog, "expressionCheck")->isVisible()
                                ? control<QLabel>(dialog, "expressionCheck")->text()
                                : QString();
                if (step.contains('=')) { // typed; QTest::keyClicks maps Latin-1 only
                    QTest::mouseClick(control(dialog, name), Qt::LeftButton);
                    QTest::keyClicks(control(dialog, name), step.section('=', 1).section(u'；', 0, 0));
                    if (step.contains(u'；'))
                        control<QLineEdit>(dialog, name)->insert(u'；' + step.section(u'；', 1));
                } else if (name == "Return" || name == "Escape") {
                    QTest::keyClick(dialog->focusWidget(),
                                    name == "Return" ? Qt::Key_Return : Qt::Key_Escape);
                } else if (box) { // on its box: the line stretches beyond its text
                    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
                } else if (name != "Text4") {
                    QTest::mouseClick(control(dialog, name), Qt::LeftButton);
                }
            }
        });
        QVERIFY2(part[2].trimmed().isEmpty() ? check.isEmpty() : check.contains(part[2].trimmed()),
                 qPrintable(check));
        QCOMPARE(choicesLine(), part[3].trimmed());
        newWindow(); // remembered, as the person left them
        QCOMPARE(choicesLine(), part[3].trimmed());
    }

    // The choices as a new window finds them take part in every run, and its report says what they
    // left out; a wrong expression never reaches a run.
    void choicesInRuns_data()
    {
        // choices kept | fields | button | files | the folder after ("!" gone) | the report says
        QTest::addColumn<QString>("row");
        QTest::newRow("rename the photos only")
            << u("include=*.jpg | Text2=1 | Command1 | b.JPG=1 c.jpg=2 desktop.ini=x notes.txt=x | 1.jpg=1 "
                 "2.jpg=2 desktop.ini=x | 按条件略过 2 个文件：desktop.ini、notes.txt");
        QTest::newRow("groups in a GBK text") << u(
            "regex | Text3=(\\d+)-(\\d+) Text4=$2-$1 | Command3 | gbk:日.txt=gbk:日期12-34 b.txt=1-2-3 | "
            "gbk:日.txt=gbk:日期34-12 b.txt=2-1-3 | 修改了 2 个文件，替换 2 处");
        QTest::newRow("any case, one file excluded, one binary")
            << u("ignoreCase exclude=b.txt | Text3=abc Text4=x | Command3 | a.txt=ABC b.txt=abc "
                 "c.txt=abc\x01\\0 | "
                 "a.txt=x b.txt=abc | 选项：不含 b.txt；忽略大小写\n按条件略过 1 个文件：b.txt");
        QTest::newRow("pages of some texts only") << u("include=a*;i* | Text9=t | Command2 | a.txt=t b.txt=t "
                                                       "| a.htm=<HTML> !b.htm | 按条件略过 1 个文件：b.txt");
        QTest::newRow("a wrong expression")
            << u("regex | Text3=a(b Text4=x | Command3 | a.txt=a(b | a.txt=a(b | "
                 "正则表达式“a(b”在第 4 个字符处有错误");
    }
    void choicesInRuns()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(" | ");
        QSettings settings;
        for (const QString &choice : part[0].split(' '))
            settings.setValue("options/" + choice.section('=', 0, 0),
                              choice.contains('=') ? QVariant(choice.section('=', 1)) : QVariant(true));
        settings.sync();
        newWindow();
        files(QString(part[3]).replace("\\0", QString(QChar(0))));
        fill(part[1]);
        QTRY_VERIFY_WITH_TIMEOUT(control(m_form, part[2])->isEnabled(), 5000);
        QTest::mouseClick(control<QPushButton>(m_form, part[2]), Qt::LeftButton);
        waitForEndOfRun();
        for (const QString &file : part[4].split(' ')) // (the start of the bytes)
            QVERIFY2(read(m_tmp->path(), bytes(file.section('=', 0, 0).remove('!')))
                         .startsWith(file.startsWith('!') ? "<missing>" : bytes(file.section('=', 1))),
                     qPrintable(file));
        const QString said = control<QLabel>(m_form, "statusText")->toolTip() + m_boxes->texts.join('|');
        QVERIFY2(said.contains(part[5]), qPrintable(said));
    }

    // The preview of a search that is not plain text shows each file's first hits with the text around
    // them and what they become, in every character set.
    void hitsInThePreview_data()
    {
        QTest::addColumn<QString>("row"); // choice | search | replacement | the file | the row shown
        QTest::newRow("groups, GBK") << u(
            "regex | (\\d+)-(\\d+)-(\\d+) | $3/$2/$1 | gbk:今天是2024-01-05星期五 | "
            "替换 1 处 今天是【2024-01-05 → 05/01/2024】星期五");
        QTest::newRow("a long line, UTF-16") << u("regex | \\d+ | # | le:xxxxxxxxxxxxxxx42yyyyyyyyyyyyyyy | "
                                                  "替换 1 处 …xxxxxxxxxx【42 → #】yyyyyyyyyy…");
        QTest::newRow("the first three, UTF-8") << u("regex | [a-c]\\d | <$0> | a1 b2 c3 a4 | 替换 4 处 【a1 "
                                                     "→ <a1>】 b2 c3 a4  a1 【b2 → <b2>】 c3 a4  a1 b2 "
                                                     "【c3 → <c3>】 a4");
        QTest::newRow("any case, full-width, GB18030")
            << u("ignoreCase | ａｂ | x | gb18030:𠮷ＡＢ。 | 替换 1 处 𠮷【ＡＢ → x】。");
        QTest::newRow("across a line end") << u("regex | a\\nb |  | x\\na\\nb | 替换 1 处 x\\n【a\\nb → 】");
    }
    void hitsInThePreview()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(" | ");
        QSettings().setValue("options/" + part[0], true);
        newWindow();
        const QString text = QString(part[3]).replace("\\n", "\n");
        write(m_tmp->path(), "a.txt", text.startsWith("gb18030:") ? gb18030(text.mid(8)) : bytes(text));
        fill("Text3=" + part[1] + " Text4=" + part[2]);
        QStringList shown;
        QString choices;
        preview([&](QWidget *dialog) {
            shown = rows(dialog);
            choices = control<QLabel>(dialog, "choices")->text();
        });
        QCOMPARE(shown, QStringList{"[x] a.txt " + part[4]});
        QCOMPARE(choices, u("选项：") + (part[0] == "regex" ? u("正则表达式") : u("忽略大小写")));
    }

    // A row unticked in the preview (a click on its box, or Space) is left out of 执行, which waits
    // until the plan without it is shown; a rename numbers the files that remain. The rows stay where
    // the person aimed (the boxes are clicked where they were first seen), the top counts the files
    // listed, and a file that came meanwhile ("+name") comes in unticked.
    void untickedRows_data()
    {
        // fields | rows to untick, "k" by Space | the rows then | the folder after | the report says
        QTest::addColumn<QString>("row");
        QTest::newRow("rename") << u(
            "Text2=1 | 1 | [x] a.txt 1.txt;[ ] b.txt 不处理;[x] c.txt 2.txt | 1.txt=a 2.txt=c "
            "b.txt=b | 未勾选、不处理的 1 个文件：b.txt");
        QTest::newRow("rename, unticked and ticked again")
            << u("Text2=1 | 0 0 | [x] a.txt 1.txt;[x] b.txt 2.txt;[x] c.txt 3.txt | 1.txt=a 2.txt=b 3.txt=c "
                 "| 已更名 3 个");
        QTest::newRow("replace, a file gained a hit meanwhile") << u(
            "Text3=a Text4=A | +b.txt=ba 0 | [ ] a.txt 不处理;[ ] b.txt 不处理 | a.txt=ab b.txt=ba c.txt=cb "
            "| 修改了 0 个文件");
        QTest::newRow("rename, two quick clicks")
            << u("Text2=1 | 0 2 | [ ] a.txt 不处理;[x] b.txt 1.txt;[ ] c.txt 不处理 | 1.txt=b a.txt=ab "
                 "c.txt=cb | 未勾选、不处理的 2 个文件");
        QTest::newRow("rename, a file came, then ticked") << u(
            "Text2=1 | +0.txt=0 1 0 | [x] 0.txt 1.txt;[x] a.txt 2.txt;[ ] b.txt 不处理;[x] c.txt 3.txt | "
            "1.txt=0 2.txt=a 3.txt=c b.txt=b | 已更名 3 个");
        QTest::newRow("replace, by Space, a file came") << u(
            "Text3=b Text4=B | +0.txt=b 1k | [ ] 0.txt 不处理;[x] a.txt 替换 1 处;[ ] b.txt 不处理;[x] c.txt "
            "替换 1 处 | 0.txt=b a.txt=aB b.txt=b c.txt=cB | 修改了 2 个文件");
        QTest::newRow("convert") << u(
            "Text9=t | 2 0k | [ ] a.txt  不处理;[x] b.txt b.htm 新建;[ ] c.txt  不处理;  index.htm "
            "索引，新建 | !a.htm !c.htm b.htm=<HTML> | 生成了 1 个网页");
    }
    void untickedRows()
    {
        QFETCH(QString, row);
        const QStringList part = row.split(" | ");
        files(u("a.txt=ab b.txt=b c.txt=cb"));
        fill(part[0]);
        bool waited = true;
        QStringList shown;
        QString top;
        preview([&](QWidget *dialog) {
            auto *run = control<QPushButton>(dialog, "run");
            auto *table = dialog->findChild<QTableView *>("table");
            QList<QPoint> boxes; // where a person sees each row's box, in the dialog
            for (int r = 0; r < table->model()->rowCount(); ++r) {
                QStyleOptionViewItem box;
                box.initFrom(table);
                box.rect = table->visualRect(table->model()->index(r, 0));
                box.features = QStyleOptionViewItem::HasCheckIndicator;
                boxes << table->viewport()->mapTo(
                    dialog, table->style()
                                ->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &box, table)
                                .center());
            }
            for (const QString &step : part[1].split(' ')) {
                if (step.startsWith('+')) {
                    files(step.mid(1));
                    continue;
                }
                if (step.endsWith('k')) {
                    table->setCurrentIndex(table->model()->index(step.left(1).toInt(), 1));
                    QTest::keyClick(table, Qt::Key_Space);
                } else {
                    QWidget *at = dialog->childAt(boxes[step.toInt()]);
                    QTest::mouseClick(at, Qt::LeftButton, {}, at->mapFrom(dialog, boxes[step.toInt()]));
                }
                waited = waited && !run->isEnabled(); // until the plan without it is shown
                QTRY_VERIFY_WITH_TIMEOUT(run->isEnabled(), 10000);
                QApplication::processEvents(); // the dialog laid out anew, as a person's next click finds it
            }
            shown = rows(dialog);
            top = control<QLabel>(dialog, "folder")->text();
            QTest::mouseClick(run, Qt::LeftButton);
        });
        QVERIFY(waited);
        QCOMPARE(shown.join(';'), part[2]);
        QVERIFY2(top.startsWith(u("文件夹：%1（").arg(m_tmp->path())) &&
                     top.contains(u("%1 个%2文件")
                                      .arg(shown.filter(QRegularExpression("^\\[")).size())
                                      .arg(row.contains("Text9") ? " txt " : "")),
                 qPrintable(top));
        for (const QString &file : part[3].split(' '))
            QVERIFY2(read(m_tmp->path(), bytes(file.section('=', 0, 0).remove('!')))
                         .startsWith(file.startsWith('!') ? "<missing>" : bytes(file.section('=', 1))),
                     qPrintable(file));
        QVERIFY2(control<QLabel>(m_form, "statusText")->toolTip().contains(part[4]),
                 qPrintable(control<QLabel>(m_form, "statusText")->toolTip()));
    }
};

QTEST_MAIN(TestOptions)
#include "tst_options.moc"
