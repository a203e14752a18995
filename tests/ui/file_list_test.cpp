// The file list's model: which files it takes, what its cells show, and how rows go away.

#include <QTest>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temp_dir.h"
#include "ui/window/file_list_model.h"
#include "ui/window/folder_listing.h"

namespace orvalis {

namespace fs = std::filesystem;

FileRow Row(const std::string& path) {
  FileRow row;
  row.path = path;
  row.displayPath = QString::fromStdString(path);
  return row;
}

class FileListTest : public QObject {
  Q_OBJECT

 private slots:
  void takesOnlyExistingDocuments_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");  // "file", "folder", "missing", "link to nothing"
    QTest::addColumn<bool>("taken");
    QTest::newRow("lower case") << "a.ps"
                                << "file" << true;
    QTest::newRow("upper case") << "REPORT.PS"
                                << "file" << true;
    QTest::newRow("mixed case") << "Mixed.pS"
                                << "file" << true;
    QTest::newRow("other extension") << "notes.txt"
                                     << "file" << false;
    QTest::newRow("ps not at the end") << "a.ps.bak"
                                       << "file" << false;
    QTest::newRow("no dot") << "aps"
                            << "file" << false;
    QTest::newRow("eps") << "figure.eps"
                         << "file" << true;
    QTest::newRow("compressed") << "report.PS.gz"
                                << "file" << true;
    QTest::newRow("pdf") << "paper.pdf"
                         << "file" << true;
    QTest::newRow("gz alone") << "report.gz"
                              << "file" << false;
    QTest::newRow("folder") << "folder.ps"
                            << "folder" << false;
    QTest::newRow("missing") << "gone.ps"
                             << "missing" << false;
    QTest::newRow("dangling link") << "dangling.ps"
                                   << "link to nothing" << false;
  }
  void takesOnlyExistingDocuments() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, taken);
    test::TempDir dir;
    const std::string path = dir.File(name.toStdString());
    if (kind == "file") std::ofstream(path) << "%!PS\n";
    if (kind == "folder") fs::create_directory(path);
    if (kind == "link to nothing") fs::create_symlink(dir.File("nowhere.ps"), path);
    QCOMPARE(RowForFile(path).has_value(), taken);
  }

  void rowShowsAbsolutePathSizeAndReady_data() {
    QTest::addColumn<int>("bytes");
    QTest::addColumn<QString>("size");
    QTest::newRow("empty") << 0 << "0 KB";
    QTest::newRow("102 bytes") << 102 << "0 KB";
    QTest::newRow("103 bytes") << 103 << "1 KB";
    QTest::newRow("1024 bytes") << 1024 << "1 KB";
    QTest::newRow("1127 bytes") << 1127 << "2 KB";
  }
  void rowShowsAbsolutePathSizeAndReady() {
    QFETCH(int, bytes);
    QFETCH(QString, size);
    test::TempDir dir;
    std::ofstream(dir.File("doc.ps")) << std::string(static_cast<size_t>(bytes), 'x');
    // A relative spelling is listed as the full path.
    const fs::path before = fs::current_path();
    fs::current_path(dir.Path());
    const std::optional<FileRow> row = RowForFile("./doc.ps");
    fs::current_path(before);
    QVERIFY(row.has_value());
    QCOMPARE(row->path, dir.File("doc.ps"));

    FileListModel model;
    model.AppendRows({*row});
    QCOMPARE(model.index(0, FileListModel::kFilesColumn).data().toString(),
             QString::fromStdString(dir.File("doc.ps")));
    QCOMPARE(model.index(0, FileListModel::kSizeColumn).data().toString(), size);
    QCOMPARE(model.index(0, FileListModel::kStatusColumn).data().toString(),
             QStringLiteral("Ready"));
    QCOMPARE(model.index(0, FileListModel::kSizeColumn)
                 .data(Qt::TextAlignmentRole)
                 .value<Qt::Alignment>(),
             Qt::Alignment(Qt::AlignCenter));
    QCOMPARE(model.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("Status"));
  }

  void nameThatIsNotUtf8KeepsItsBytes() {
    test::TempDir dir;
    const std::string path = dir.File("caf\xe9.ps");  // Latin-1, not UTF-8
    std::ofstream(path) << "%!PS\n";
    const std::optional<FileRow> row = RowForFile(path);
    QVERIFY(row.has_value());
    QCOMPARE(row->path, path);
    FileListModel model;
    model.AppendRows({*row});
    QCOMPARE(model.Paths(), std::vector<std::string>{path});
  }

  void controlCharactersAreShownVisibly_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QStringLiteral("report 2024.ps") << QStringLiteral("report 2024.ps");
    QTest::newRow("accents and scripts") << QStringLiteral("caf\u00e9 \u0645\u062b\u0627\u0644.ps")
                                         << QStringLiteral("caf\u00e9 \u0645\u062b\u0627\u0644.ps");
    QTest::newRow("right-to-left override")
        << QStringLiteral("invoice\u202Efdp.ps") << QStringLiteral("invoice<U+202E>fdp.ps");
    QTest::newRow("isolates and marks")
        << QStringLiteral("a\u2067b\u2069\u200Fc") << QStringLiteral("a<U+2067>b<U+2069><U+200F>c");
    QTest::newRow("line break and tab")
        << QStringLiteral("two\nlines\t.ps") << QStringLiteral("two<U+000A>lines<U+0009>.ps");
    QTest::newRow("zero width space") << QStringLiteral("a\u200Bb") << QStringLiteral("a<U+200B>b");
    QTest::newRow("joiner of an emoji kept")
        << QString::fromUtf8("\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB.ps")
        << QString::fromUtf8("\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x92\xBB.ps");
    QTest::newRow("format character past the first plane") << QString::fromUtf8(
                                                                  "a\xF3\xA0\x80\x81"
                                                                  "b")
                                                           << QStringLiteral("a<U+E0001>b");
  }
  void controlCharactersAreShownVisibly() {
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(VisibleText(text), shown);
  }

  void whyAFileIsNotTaken() {
    test::TempDir dir;
    fs::create_directory(dir.File("folder.ps"));
    std::ofstream(dir.File("notes.txt")) << "x";
    std::string longPath = dir.Path().string();
    while (longPath.size() < 4267) longPath += "/" + std::string(200, 'd');
    const std::pair<std::string, std::string> cases[] = {
        {"", "no file name was given"},
        {dir.File("notes.txt"),
         "its name does not end in .ps, .eps, .epsf, .epsi, .ps.gz, .eps.gz or .pdf"},
        {dir.File("gone.ps"), "the file does not exist"},
        {dir.File("folder.ps"), "it is a folder"},
        {longPath + "/a.ps", "the path is too long (" + std::to_string(longPath.size() + 5) +
                                 " bytes; the system takes at most 4095)"},
    };
    for (const auto& [path, reason] : cases) {
      std::string whyNot;
      QVERIFY(!RowForFile(path, &whyNot).has_value());
      QCOMPARE(whyNot, reason);
    }
    QCOMPARE(QuotedName("/a/b\xe9\u202e.ps"), QStringLiteral("'/a/b\uFFFD<U+202E>.ps'"));
  }

  void pathTooltipIsNeverMarkup() {
    FileListModel model;
    FileRow row = Row("/docs/<b>bold</b>.ps");
    model.AppendRows({row});
    const QString tip =
        model.index(0, FileListModel::kFilesColumn).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains(QStringLiteral("/docs/&lt;b&gt;bold&lt;/b&gt;.ps")), qPrintable(tip));
  }

  void folderListsNamesWithoutRegardToCase() {
    test::TempDir dir;
    const std::vector<std::string> names = {
        "_x.ps", "REPORT.PS", "brochure.ps", "B.ps", "a.ps", "\xc3\xa9t\xc3\xa9.ps", "Report.ps"};
    for (const std::string& name : names) std::ofstream(dir.File(name)) << "%!PS\n";
    fs::create_directory(dir.File("sub.ps"));
    std::vector<std::string> listed;
    for (const std::string& path : FolderFiles(dir.Path().string()))
      listed.push_back(fs::path(path).filename().string());
    // Upper-cased, as the original file system compares names; equal that way, by bytes.
    QCOMPARE(listed, (std::vector<std::string>{"a.ps", "B.ps", "brochure.ps", "REPORT.PS",
                                               "Report.ps", "_x.ps", "\xc3\xa9t\xc3\xa9.ps"}));
    QVERIFY(ListedBefore("brochure.ps", "REPORT.PS"));
    QVERIFY(!ListedBefore("REPORT.PS", "brochure.ps"));
    QVERIFY(!ListedBefore("a.ps", "a.ps"));
    QVERIFY(FolderFiles(dir.File("missing")).empty());
  }

  void removesAnySetOfRows() {
    FileListModel model;
    std::vector<FileRow> rows;
    for (int i = 0; i < 10; ++i) rows.push_back(Row(std::to_string(i)));
    model.AppendRows(rows);
    // Unordered, repeated, out of range, in two runs of neighbours.
    model.RemoveRows({7, 2, 3, 9, 2, 8, 42, -1});
    std::vector<std::string> left;
    for (int i = 0; i < model.rowCount(); ++i) left.push_back(model.Row(i).path);
    QCOMPARE(left, (std::vector<std::string>{"0", "1", "4", "5", "6"}));
    model.Clear();
    QCOMPARE(model.rowCount(), 0);
  }

  void reasonShowsOnlyOnTheStatusCellUntilTheNextStatus() {
    FileListModel model;
    model.AppendRows({Row("/a.ps")});
    const QModelIndex status = model.index(0, FileListModel::kStatusColumn);
    QVERIFY(status.data(Qt::ToolTipRole).isNull());
    model.SetResult(0, QStringLiteral("Failed"), QStringLiteral("Error: /undefined in <x> & y"));
    QCOMPARE(status.data().toString(), QStringLiteral("Failed"));
    const QString tip = status.data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains(QStringLiteral("/undefined in &lt;x&gt; &amp; y")), qPrintable(tip));
    QVERIFY(model.index(0, FileListModel::kSizeColumn).data(Qt::ToolTipRole).isNull());
    // The next run's first progress text forgets the reason.
    model.SetStatus(0, QStringLiteral("Converting."));
    QVERIFY(status.data(Qt::ToolTipRole).isNull());
  }

  void longReasonWrapsBetweenWords() {
    const QString word = QStringLiteral("interpreter ");
    const QString tip = ReasonTooltip(word.repeated(20) + QStringLiteral("\nsecond line"));
    const QString text = tip.section(QLatin1Char('>'), 1).section(QLatin1Char('<'), 0, 0);
    const QStringList lines = text.split(QLatin1Char('\n'));
    QVERIFY(lines.size() >= 4);
    for (const QString& line : lines) QVERIFY2(line.size() <= 72, qPrintable(line));
    QCOMPARE(lines.back(), QStringLiteral("second line"));
    QCOMPARE(text.count(QStringLiteral("interpreter")), 20);
  }
};

}  // namespace orvalis

QTEST_MAIN(orvalis::FileListTest)
#include "file_list_test.moc"
