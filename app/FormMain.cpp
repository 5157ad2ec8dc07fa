#include "app/FormMain.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPixmap>
#include <QProgressBar>
#include <QSaveFile>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <utility>

#include "app/Artwork.h"
#include "app/DamageStrip.h"
#include "app/MessagesView.h"
#include "app/Translation.h"
#include "batch/BatchSummary.h"
#include "batch/RecoveryRows.h"
#include "batch/Report.h"
#include "batch/ExistingOutput.h"
#include "batch/RowFiles.h"
#include "batch/RunDisplay.h"
#include "lang/Language.h"
#include "settings/RegistryStore.h"
#include "settings/UserRegistry.h"
#include "util/FolderFiles.h"
#include "util/Paths.h"

namespace {

using namespace VEKRiff::WindowTexts;

QString QText(const VEK::MessagePair& pair) { return QString::fromStdString(VEK::Text(pair)); }
QString QText(const VEK::MessagePair& pair, const QString& a, const QString& b = QString()) {
  return QString::fromStdString(VEK::Text(pair, {a.toStdString(), b.toStdString()}));
}

// Paths travel as the file system's bytes; the list shows them decoded.
QString Shown(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
std::string Bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The columns of a row: caption (file name), sub-item 0 (folder), what
// became of the file, and the file that holds its repair (hidden until the
// user shows it); the rest of a row lives in the batch model.
constexpr int ResultColumn = 2;
constexpr int OutputColumn = SettingsWindow::OutputColumn;

// An unmarked row gets an empty picture of a mark's size, so that its text
// lines up with the marked rows' texts.
QIcon NoMarkIcon() {
  static const QIcon icon = [] {
    // Larger than any mark is drawn: an icon is scaled down, never up.
    QPixmap blank(64, 64);
    blank.fill(Qt::transparent);
    return QIcon(blank);
  }();
  return icon;
}

QStringList QLines(const VEKRiff::LineList& lines) {
  QStringList out;
  out.reserve(static_cast<qsizetype>(lines.size()));
  for (std::string_view line : lines) out.append(QString::fromUtf8(line.data(), line.size()));
  return out;
}

// A status panel as wide as the widest text it is meant to show, in the
// current language and font, and wider when its text is wider still: a
// number must never be cut, in French as in English, at any font size. The
// samples keep the panel from jumping about as a counter grows.
class TextPanel : public QLabel {
 public:
  TextPanel(std::function<QStringList()> samples, QWidget* parent) : QLabel(parent), samples_(std::move(samples)) {}
  QSize minimumSizeHint() const override { return Widest(QLabel::minimumSizeHint()); }
  QSize sizeHint() const override { return Widest(QLabel::sizeHint()); }

 private:
  QSize Widest(QSize size) const {
    // The label's own frame and margins, as its hint for the current text counts them.
    const int overhead = QLabel::sizeHint().width() - fontMetrics().horizontalAdvance(text());
    for (const QString& sample : samples_())
      size.setWidth(std::max(size.width(), fontMetrics().horizontalAdvance(sample) + overhead));
    return size;
  }
  std::function<QStringList()> samples_;
};

}  // namespace

TFrmMain::TFrmMain(ZantrelApp::Prompts& prompts, VEKRegistry::Store* store, QWidget* parent)
    : QMainWindow(parent),
      Session(HandOvers, prompts, *this),
      prompts_(prompts),
      ownStore_(store ? nullptr : VEKRegistry::OpenUserRegistry()),
      store_(store ? *store : *ownStore_),
      eventLoopHandOver_(HandOvers) {
  setObjectName("FrmMain");
  resize(552, 501);
  BuildActions();
  BuildLayout();
  BuildMenus();
  ApplyIconSizes();
  RetranslateUi();

  auto timer = [this](const char* name) {
    auto* t = new QTimer(this);
    t->setObjectName(name);
    t->setInterval(250);
    return t;
  };
  TmrProgress = timer("TmrProgress");
  connect(TmrProgress, &QTimer::timeout, this, [this] { Session.Tick(); });
  // The lines go into the view while the worker goes on, in a few large
  // batches a second: laid out at the end all at once, tens of thousands of
  // them would keep the window busy after the work is done.
  tmrLines_ = new QTimer(this);
  tmrLines_->setInterval(40);
  connect(tmrLines_, &QTimer::timeout, this, [this] {
    Session.TakeLines();
    FlushMessages();
  });
  // The auto-start timers fire once, when the window is up, and then run the
  // action as the user would, questions included.
  TmrCheckErrors = timer("TmrCheckErrors");
  TmrRebuildIndex = timer("TmrRebuildIndex");
  for (auto [t, action] : {std::pair{TmrCheckErrors, ActActionCheckErrors}, std::pair{TmrRebuildIndex, ActActionFix}})
    connect(t, &QTimer::timeout, this, [t = t, action = action] {
      t->stop();
      action->trigger();
    });

  OpenUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
  ChooseFiles = [this](const QString& from) {
    QFileDialog dialog(this, QString(), from, tr("Supported types (*.avi);;Any file (*)"));
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::ReadOnly, false);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
  };
  ChooseFolder = [this](const QString& from) { return QFileDialog::getExistingDirectory(this, QString(), from); };
  ChooseReference = [this] {
    return QFileDialog::getOpenFileName(this, QString(), QString(), tr("Supported types (*.avi);;Any file (*)"));
  };
  ChooseRecoverySource = [this] {
    QFileDialog dialog(this, tr("Card or image to recover films from"), QString(), tr("All files (*)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    // A card is a device (/dev/sdb): listed, and taken when typed.
    dialog.setFilter(dialog.filter() | QDir::System);
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
  };
  ChooseRecoveryFolder = [this] {
    return QFileDialog::getExistingDirectory(this, tr("Folder for the recovered films"), lastFolder_);
  };
  ChooseMessagesFile = [this] {
    return QFileDialog::getSaveFileName(this, QString(), "messages.txt", tr("Text files (*.txt);;Any file (*)"));
  };
  ChooseReportFile = [this] {
    return QFileDialog::getSaveFileName(this, QString(), "report.jsonl", tr("JSON Lines (*.jsonl);;Any file (*)"));
  };

  // Actions follow the state whenever the application is about to wait for
  // events, as an idle-time update would.
  if (auto* dispatcher = QAbstractEventDispatcher::instance())
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TFrmMain::UpdateActions);
  // Handed files wait for the run or the question to end, a few looks a second.
  tmrHanded_ = new QTimer(this);
  tmrHanded_->setInterval(250);
  connect(tmrHanded_, &QTimer::timeout, this, &TFrmMain::AddHandedPaths);
  ShowHelp = [this] {
    QMessageBox box(QMessageBox::Information, MnuHelp->title().remove(QLatin1Char('&')), HelpText(), QMessageBox::Ok,
                    this);
    box.setTextFormat(Qt::RichText);
    box.exec();
  };
}

TFrmMain::~TFrmMain() {
  // While every member the rows' notifications touch still exists: a search
  // ends stopped, and the staging folder goes with the run that follows.
  search_.reset();
  Session.EndAndWait();
}

void TFrmMain::BuildActions() {
  using ZantrelApp::ToolImage;
  // The captions and hints come with RetranslateUi, in the current language.
  auto make = [this](const char* name, std::optional<ToolImage> image = std::nullopt) {
    auto* action = new QAction(this);
    action->setObjectName(name);
    if (image) action->setIcon(ZantrelApp::ToolIcon(*image));
    return action;
  };
  ActFileClear = make("ActFileClear", ToolImage::ClearFiles);
  ActFileClear->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
  connect(ActFileClear, &QAction::triggered, this, &TFrmMain::ClearList);
  ActFileAdd = make("ActFileAdd", ToolImage::AddFiles);
  ActFileAdd->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_O), QKeySequence(Qt::CTRL | Qt::Key_Insert)});
  connect(ActFileAdd, &QAction::triggered, this, &TFrmMain::ActFileAddExecute);
  ActFileRemove = make("ActFileRemove", ToolImage::RemoveFiles);
  ActFileRemove->setShortcuts({QKeySequence(Qt::Key_Delete), QKeySequence(Qt::CTRL | Qt::Key_Delete)});
  connect(ActFileRemove, &QAction::triggered, this, &TFrmMain::ActFileRemoveExecute);
  ActActionCheckErrors = make("ActActionCheckErrors", ToolImage::CheckErrors);
  ActActionCheckErrors->setShortcuts({QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_E)});
  connect(ActActionCheckErrors, &QAction::triggered, this, [this] { StartOperation(true); });
  ActActionFix = make("ActActionFix", ToolImage::RebuildIndex);
  ActActionFix->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(ActActionFix, &QAction::triggered, this, [this] { StartOperation(false); });
  ActCheckSelected = make("ActCheckSelected");
  ActCheckSelected->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F5));
  connect(ActCheckSelected, &QAction::triggered, this,
          [this] { StartOperation(true, VEKRiff::RunScope::SelectedRows); });
  ActRebuildSelected = make("ActRebuildSelected");
  ActRebuildSelected->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
  connect(ActRebuildSelected, &QAction::triggered, this,
          [this] { StartOperation(false, VEKRiff::RunScope::SelectedRows); });
  ActActionStop = make("ActActionStop", ToolImage::Stop);
  ActActionStop->setShortcut(QKeySequence(Qt::Key_Escape));  // only enabled while running
  connect(ActActionStop, &QAction::triggered, this, [this] { StopOperation(); });
  ActFileQuit = make("ActFileQuit");
  ActFileQuit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(ActFileQuit, &QAction::triggered, this, &QWidget::close);
  ActOpenFile = make("ActOpenFile");
  connect(ActOpenFile, &QAction::triggered, this, [this] { ActOpenExecute(OpenTarget::File); });
  ActOpenFixedFile = make("ActOpenFixedFile");
  connect(ActOpenFixedFile, &QAction::triggered, this, [this] { ActOpenExecute(OpenTarget::FixedFile); });
  ActOpenContainingFolder = make("ActOpenContainingFolder");
  connect(ActOpenContainingFolder, &QAction::triggered, this, [this] { ActOpenExecute(OpenTarget::Folder); });
  ActShowCopyFolder = make("ActShowCopyFolder");
  connect(ActShowCopyFolder, &QAction::triggered, this, [this] { ActOpenExecute(OpenTarget::CopyFolder); });
  ActOutputColumn = make("ActOutputColumn");
  ActOutputColumn->setCheckable(true);
  connect(ActOutputColumn, &QAction::triggered, this, [this](bool on) {
    SetFilesColumnShown(OutputColumn, on);
    SaveSettingsOrReport();
  });
  ActConfig = make("ActConfig", ToolImage::Configuration);
  ActConfig->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
  connect(ActConfig, &QAction::triggered, this, &TFrmMain::ActConfigExecute);
  ActFileAddFolder = make("ActFileAddFolder");
  ActFileAddFolder->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O));
  connect(ActFileAddFolder, &QAction::triggered, this, [this] {
    const QString folder = ChooseFolder(lastFolder_);
    if (!folder.isEmpty()) lastFolder_ = folder;
    if (!folder.isEmpty()) AddPaths({folder});
  });
  ActSaveMessages = make("ActSaveMessages");
  ActSaveMessages->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  connect(ActSaveMessages, &QAction::triggered, this, &TFrmMain::SaveMessages);
  ActSaveAllMessages = make("ActSaveAllMessages");
  connect(ActSaveAllMessages, &QAction::triggered, this, &TFrmMain::SaveAllMessages);
  ActSaveReport = make("ActSaveReport");
  connect(ActSaveReport, &QAction::triggered, this, &TFrmMain::SaveReport);
  ActCopyMessages = make("ActCopyMessages");
  ActCopyMessages->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
  connect(ActCopyMessages, &QAction::triggered, this, &TFrmMain::CopyMessages);
  ActHelp = make("ActHelp");
  ActHelp->setShortcut(QKeySequence(Qt::Key_F1));
  connect(ActHelp, &QAction::triggered, this, [this] {
    if (ShowHelp) ShowHelp();
  });
  ActRecover = make("ActRecover");
  connect(ActRecover, &QAction::triggered, this, &TFrmMain::RecoverFilms);
  ActReference = make("ActReference");
  ActReference->setCheckable(true);
  connect(ActReference, &QAction::triggered, this, [this](bool on) {
    ReferenceFile = on ? ChooseReference() : QString();
    ActReference->setChecked(!ReferenceFile.isEmpty());
    ShowReferenceHint();
  });
}

void TFrmMain::ShowReferenceHint() {
  // The chosen file, once there is one, says more than the hint.
  ActReference->setToolTip(ReferenceFile.isEmpty()
                               ? tr("Rebuild damaged or lost header lists from a healthy file of the same camera or "
                                    "encoder")
                               : ReferenceFile);
  ActReference->setStatusTip(ActReference->toolTip());
}

void TFrmMain::BuildMenus() {
  MnuFile = menuBar()->addMenu(QString());
  MnuFile->addAction(ActFileClear);
  MnuFile->addSeparator();
  MnuFile->addAction(ActFileAdd);
  MnuFile->addAction(ActFileAddFolder);
  MnuFile->addAction(ActFileRemove);
  MnuFile->addSeparator();
  MnuFile->addAction(ActRecover);
  MnuFile->addSeparator();
  MnuFile->addAction(ActSaveMessages);
  MnuFile->addAction(ActSaveAllMessages);
  MnuFile->addAction(ActSaveReport);
  MnuFile->addAction(ActCopyMessages);
  MnuFile->addSeparator();
  MnuFile->addAction(ActFileQuit);
  MnuAction = menuBar()->addMenu(QString());
  MnuAction->addAction(ActActionCheckErrors);
  MnuAction->addAction(ActActionFix);
  MnuAction->addAction(ActCheckSelected);
  MnuAction->addAction(ActRebuildSelected);
  MnuAction->addAction(ActReference);
  MnuAction->addSeparator();
  MnuAction->addAction(ActActionStop);
  MnuOptions = menuBar()->addMenu(QString());
  MnuStayOnTop = MnuOptions->addAction(QString());
  MnuStayOnTop->setObjectName("MnuStayOnTop");
  MnuStayOnTop->setCheckable(true);
  connect(MnuStayOnTop, &QAction::triggered, this, &TFrmMain::MnuStayOnTopClick);
  MnuOptions->addAction(ActOutputColumn);
  MnuTools = menuBar()->addMenu(QString());
  MnuTools->addAction(ActConfig);
  MnuHelp = menuBar()->addMenu(QString());
  MnuHelp->addAction(ActHelp);
  MnuAbout = MnuHelp->addAction(QString());
  MnuAbout->setObjectName("MnuAbout");
  connect(MnuAbout, &QAction::triggered, this, [this] {
    if (ShowAbout) ShowAbout();
  });
  const std::pair<QMenu*, const char*> menuNames[] = {
      {MnuFile, "MnuFile"}, {MnuAction, "MnuAction"}, {MnuOptions, "MnuOptions"}, {MnuTools, "MnuTools"},
      {MnuHelp, "MnuHelp"}};
  for (auto [menu, name] : menuNames) menu->setObjectName(name);

  ToolBar1 = addToolBar(QString());
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->setMovable(false);
  ToolBar1->addAction(ActFileClear);
  ToolBar1->addSeparator();
  ToolBar1->addAction(ActFileAdd);
  ToolBar1->addAction(ActFileRemove);
  ToolBar1->addSeparator();
  ToolBar1->addAction(ActActionCheckErrors);
  ToolBar1->addAction(ActActionFix);
  ToolBar1->addSeparator();
  ToolBar1->addAction(ActActionStop);
  ToolBar1->addSeparator();
  ToolBar1->addAction(ActConfig);

  PmnFiles = new QMenu(this);
  PmnFiles->setObjectName("PmnFiles");
  PmnFiles->addAction(ActCheckSelected);
  PmnFiles->addAction(ActRebuildSelected);
  PmnFiles->addSeparator();
  PmnFiles->addAction(ActOpenFixedFile);
  PmnFiles->addAction(ActOpenFile);
  PmnFiles->addSeparator();
  PmnFiles->addAction(ActShowCopyFolder);
  PmnFiles->addAction(ActOpenContainingFolder);
  // The list's header offers the columns a user may show or hide.
  PmnColumns = new QMenu(this);
  PmnColumns->setObjectName("PmnColumns");
  PmnColumns->addAction(ActOutputColumn);
  LvwFiles->header()->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(LvwFiles->header(), &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PmnColumns->popup(LvwFiles->header()->mapToGlobal(at)); });
  LvwFiles->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(LvwFiles, &QWidget::customContextMenuRequested, this, &TFrmMain::PmnFilesPopup);
  // The keyboard's way to the row menu, at the current row.
  auto* rowMenu = new QAction(LvwFiles);
  rowMenu->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
  rowMenu->setShortcutContext(Qt::WidgetShortcut);
  LvwFiles->addAction(rowMenu);
  connect(rowMenu, &QAction::triggered, this, [this] {
    QTreeWidgetItem* current = LvwFiles->currentItem();
    PmnFilesPopup(current ? LvwFiles->visualItemRect(current).center() : QPoint(0, 0));
  });

  EdtLogs->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(EdtLogs, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    FlushMessages();
    std::unique_ptr<QMenu> menu(EdtLogs->CreateStandardContextMenu());
    menu->addSeparator();
    menu->addAction(ActCopyMessages);
    menu->addAction(ActSaveMessages);
    menu->addAction(ActSaveAllMessages);
    menu->exec(EdtLogs->viewport()->mapToGlobal(at));
  });
}

void TFrmMain::BuildLayout() {
  auto* central = new QWidget(this);
  auto* outer = new QVBoxLayout(central);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);

  Splitter1 = new QSplitter(Qt::Horizontal, central);
  Splitter1->setObjectName("Splitter1");
  Splitter1->setHandleWidth(4);
  Splitter1->setOpaqueResize(true);
  Splitter1->setChildrenCollapsible(false);
  // The user's own width from now on, whatever the window manager does next.
  connect(Splitter1, &QSplitter::splitterMoved, this, [this] {
    maximisedFrom_ = QSize();
    pendingFilesWidth_ = -1;
  });

  PnlFiles = new QWidget(Splitter1);
  PnlFiles->setObjectName("PnlFiles");
  auto* filesLayout = new QVBoxLayout(PnlFiles);
  filesLayout->setContentsMargins(0, 0, 0, 0);
  LvwFiles = new QTreeWidget(PnlFiles);
  LvwFiles->setObjectName("LvwFiles");
  LvwFiles->setColumnCount(4);
  LvwFiles->setColumnWidth(0, 200);
  LvwFiles->setColumnWidth(1, 350);
  LvwFiles->setRootIsDecorated(false);
  LvwFiles->setUniformRowHeights(true);
  LvwFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
  LvwFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  LvwFiles->header()->setStretchLastSection(false);
  // The result where it is seen, beside the name, then the output; the
  // long folder last.
  LvwFiles->header()->moveSection(ResultColumn, 1);
  LvwFiles->header()->moveSection(LvwFiles->header()->visualIndex(OutputColumn), 2);
  LvwFiles->setColumnWidth(ResultColumn, 150);
  LvwFiles->setColumnWidth(OutputColumn, outputWidth_);
  LvwFiles->setColumnHidden(OutputColumn, true);
  filesLayout->addWidget(LvwFiles);
  // An empty list says how to fill it, where the rows will be; the label
  // lets clicks and drops through to the list and the window.
  LblDropHint = new QLabel(LvwFiles->viewport());
  LblDropHint->setObjectName("LblDropHint");
  LblDropHint->setAlignment(Qt::AlignCenter);
  LblDropHint->setWordWrap(true);
  LblDropHint->setEnabled(false);  // the dimmed colour of a remark
  LblDropHint->setAttribute(Qt::WA_TransparentForMouseEvents);
  LvwFiles->viewport()->installEventFilter(this);
  // Tied to the label, which goes before the list's model: the model's
  // last reset, as the window is destroyed, reaches nobody.
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
    connect(LvwFiles->model(), signal, LblDropHint, [this] { ShowDropHint(); });
  connect(LvwFiles->model(), &QAbstractItemModel::modelReset, LblDropHint, [this] { ShowDropHint(); });
  connect(LvwFiles, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem* item) { OpenRow(LvwFiles->indexOfTopLevelItem(item)); });
  connect(LvwFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected, const QItemSelection&) {
            if (!selected.isEmpty()) LvwFilesSelectItem();
          });

  auto* messages = new QWidget(Splitter1);
  messages->setObjectName("PnlMessages");
  auto* messagesLayout = new QVBoxLayout(messages);
  messagesLayout->setContentsMargins(0, 0, 0, 0);
  messagesLayout->setSpacing(0);
  LblMessages = new QLabel(messages);
  LblMessages->setObjectName("LblMessages");
  EdtLogs = new MessagesView(messages);
  EdtLogs->setObjectName("EdtLogs");
  EdtLogs->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  EdtLogs->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  LblMessages->setBuddy(EdtLogs);  // names the text for assistive technology
  messagesLayout->addWidget(LblMessages);
  messagesLayout->addWidget(EdtLogs);

  Splitter1->addWidget(PnlFiles);
  Splitter1->addWidget(messages);
  // No stretch factors: the splitter shares a new width in proportion to
  // the panels' widths, so that the file list grows with the window too.
  pendingFilesWidth_ = 317;
  outer->addWidget(Splitter1, 1);
  // Across the whole window, under the list and the messages.
  StrDamage = new DamageStrip(central);
  outer->addWidget(StrDamage);

  PnlStats = new QWidget(central);
  PnlStats->setObjectName("PnlStats");
  auto* statsLayout = new QHBoxLayout(PnlStats);
  statsLayout->setContentsMargins(0, 0, 0, 0);
  statsLayout->setSpacing(2);
  PnlStatus = new TextPanel(
      [] { return QStringList{QText(MsgChecking), QText(MsgRebuilding), QText(MsgAborting), tr("Searching for films")}; },
                            PnlStats);
  PnlStatus->setObjectName("PnlStatus");
  PnlStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  PnlStatus->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ProgressBar1 = new QProgressBar(PnlStats);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setTextVisible(false);
  ProgressBar2 = new QProgressBar(PnlStats);
  ProgressBar2->setObjectName("ProgressBar2");
  ProgressBar2->setRange(0, 100);
  ProgressBar2->setAlignment(Qt::AlignCenter);
  statsLayout->addWidget(PnlStatus);
  LblRate = new TextPanel([] { return QStringList{RateText(999.9e6, 100 * 3600 - 1)}; }, PnlStats);
  LblRate->setObjectName("LblRate");
  LblRate->setAlignment(Qt::AlignCenter);
  statsLayout->addWidget(LblRate);
  statsLayout->addWidget(ProgressBar1, 2);
  statsLayout->addWidget(ProgressBar2, 1);
  // The window keeps room for the run's rows when there is none: a window
  // made as small as it goes must not grow by itself when a run starts.
  QSizePolicy statsPolicy = PnlStats->sizePolicy();
  statsPolicy.setRetainSizeWhenHidden(true);
  PnlStats->setSizePolicy(statsPolicy);
  PnlStats->hide();
  outer->addWidget(PnlStats);
  // The run's counters and the idle status bar take turns in one place, as
  // large as the larger of them.
  StatusBars = new QStackedWidget(central);
  StatusBars->setObjectName("StatusBars");

  StatusBar2 = new QStatusBar(StatusBars);
  StatusBar2->setObjectName("StatusBar2");
  StatusBar2->setSizeGripEnabled(false);
  using CounterText = std::string (*)(std::int64_t);
  const CounterText counters[3] = {VEKRiff::ErrorsText, VEKRiff::VideoFramesText, VEKRiff::AudioSamplesText};
  for (int i = 0; i < 3; ++i) {
    // Room for eight digits; beyond that the panel grows with its text.
    StatusBar2Panels[i] = new TextPanel(
        [text = counters[i]] { return QStringList{QString::fromStdString(text(99999999))}; }, StatusBar2);
    StatusBar2Panels[i]->setObjectName(QString("StatusBar2Panel%1").arg(i));
    StatusBar2->addWidget(StatusBar2Panels[i]);
  }

  StatusBar1 = new QStatusBar(StatusBars);
  StatusBar1->setObjectName("StatusBar1");
  LblReady = new QLabel(StatusBar1);
  LblReady->setObjectName("LblReady");
  StatusBar1->addWidget(LblReady);
  StatusBars->addWidget(StatusBar1);
  StatusBars->addWidget(StatusBar2);
  outer->addWidget(StatusBars);

  setCentralWidget(central);
  ShowDropHint();
}

void TFrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  ApplyPendingFilesWidth();
}

void TFrmMain::ApplyPendingFilesWidth() {
  if (pendingFilesWidth_ < 0) return;
  const int total = Splitter1->width() - Splitter1->handleWidth();
  Splitter1->setSizes({pendingFilesWidth_, std::max(1, total - pendingFilesWidth_)});
  // A maximised window is shown at its normal size and gets the screen's
  // from the window manager afterwards; the splitter would share that
  // growth in proportion and leave the Messages Center far narrower than
  // it was left. The width is applied again at the maximised size.
  if (isMaximized() && !maximisedFrom_.isValid()) {
    maximisedFrom_ = size();
    return;
  }
  maximisedFrom_ = QSize();
  pendingFilesWidth_ = -1;
}

void TFrmMain::resizeEvent(QResizeEvent* event) {
  // The layout has given the splitter its new size by now.
  QMainWindow::resizeEvent(event);
  if (maximisedFrom_.isValid() && isMaximized() && size() != maximisedFrom_) ApplyPendingFilesWidth();
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == LvwFiles->viewport() && event->type() == QEvent::Resize) ShowDropHint();
  return QMainWindow::eventFilter(watched, event);
}

void TFrmMain::ShowDropHint() {
  LblDropHint->setGeometry(LvwFiles->viewport()->rect().adjusted(8, 8, -8, -8));
  LblDropHint->setVisible(LvwFiles->topLevelItemCount() == 0);
}

void TFrmMain::RetranslateUi() {
  auto caption = [](QAction* action, const QString& text, const QString& hint = QString()) {
    action->setText(text);
    action->setToolTip(hint);
    action->setStatusTip(hint);
  };
  caption(ActFileClear, tr("&Clear file list"), tr("Clear list"));
  caption(ActFileAdd, tr("&Add files..."), tr("Add files..."));
  caption(ActFileRemove, tr("&Remove files"), tr("Remove selected files"));
  caption(ActActionCheckErrors, tr("&Check errors"), tr("Check Errors"));
  caption(ActActionFix, tr("&Rebuild Index"), tr("Rebuild Index"));
  caption(ActCheckSelected, tr("Check &selected files"), tr("Check the selected files"));
  caption(ActRebuildSelected, tr("Rebuild s&elected files"), tr("Rebuild the index of the selected files"));
  caption(ActActionStop, tr("&Stop"), tr("Stop current operation"));
  caption(ActFileQuit, tr("&Quit"), tr("Quit"));
  caption(ActOpenFile, tr("&Play the original"), tr("Play the file with the system's player"));
  caption(ActOpenFixedFile, tr("Play the &repaired copy"), tr("Play the copy the rebuild wrote"));
  caption(ActOpenContainingFolder, tr("Show the original in its &folder"));
  caption(ActShowCopyFolder, tr("Show the &copy in its folder"));
  caption(ActOutputColumn, tr("O&utput column"), tr("Show the file each rebuild wrote in the list"));
  caption(ActConfig, tr("&Configuration..."), tr("Display the configuration window..."));
  caption(ActFileAddFolder, tr("Add f&older..."), tr("Add the AVI files of a folder..."));
  caption(ActSaveMessages, tr("&Save messages..."), tr("Save the Messages Center to a text file..."));
  caption(ActSaveReport, tr("Save re&port..."),
          tr("Save what the list's latest runs found, for scripts (JSON Lines)..."));
  caption(ActCopyMessages, tr("Copy &all messages"), tr("Copy the Messages Center"));
  caption(ActSaveAllMessages, tr("Save a&ll messages..."),
          tr("Save the messages of every file in the list to a text file..."));
  caption(ActHelp, tr("&Quick help..."), tr("How to check and repair files"));
  caption(ActRecover, tr("Reco&ver films from a card or image..."),
          tr("Find the films on a memory card or its image, deleted ones too, and rebuild them into a folder..."));
  ActReference->setText(tr("Reference &file..."));
  ShowReferenceHint();
  MnuFile->setTitle(tr("&File"));
  MnuAction->setTitle(tr("&Action"));
  MnuOptions->setTitle(tr("&Options"));
  MnuStayOnTop->setText(tr("&Stay on top"));
  MnuTools->setTitle(tr("&Tools"));
  MnuHelp->setTitle(tr("&Help"));
  MnuAbout->setText(tr("&About..."));
  ToolBar1->setWindowTitle(tr("ToolBar1"));
  LvwFiles->setHeaderLabels({tr("File"), tr("Folder"), tr("Result"), tr("Output")});
  // The results and the strip's words are of the current language, made anew.
  for (int i = 0; i < LvwFiles->topLevelItemCount(); ++i) ShowRow(i);
  ShowSelectedRowDamage();
  LblMessages->setText(tr("Messages Center :"));
  LblDropHint->setText(tr("Drop AVI files or folders here, or press %1")
                           .arg(ActFileAdd->shortcut().toString(QKeySequence::NativeText)));
  LblReady->setText(tr("Ready"));
  // While a run goes on, its status is the engine's text and the progress
  // timer gives its counters anew; outside one they show where a run starts.
  if (const VEK::MessagePair* status = Session.Status()) PnlStatus->setText(QText(*status));
  if (showsSummary_) StatusBar1->showMessage(QString::fromStdString(Batch.SummaryLine().value_or(std::string())));
  if (!Session.Running()) {
    StatusBar2Panels[0]->setText(tr("Errors : 0"));
    StatusBar2Panels[1]->setText(tr("Video Frames : 0"));
    StatusBar2Panels[2]->setText(tr("Audio Frames : 0"));
  }
}

void TFrmMain::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  // Un-maximised before the maximised size came: the width stands as applied.
  if (event->type() == QEvent::WindowStateChange && !isMaximized() && maximisedFrom_.isValid()) {
    maximisedFrom_ = QSize();
    pendingFilesWidth_ = -1;
  }
  if (event->type() == QEvent::LanguageChange) RetranslateUi();
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) ApplyIconSizes();
}

QSize TFrmMain::IconSize(QStyle::PixelMetric metric) const {
  // The style's size is meant for its own font; a larger font (a larger
  // point size, or a screen of more dots per inch) gets larger pictures.
  const QFont normal = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  const double points = font().pointSizeF() > 0 ? font().pointSizeF() : normal.pointSizeF();
  const double scale = std::max(1.0, points * logicalDpiY() / (std::max(1.0, normal.pointSizeF()) * 96.0));
  const int side = qRound(style()->pixelMetric(metric, nullptr, this) * scale);
  return QSize(side, side);
}

void TFrmMain::ApplyIconSizes() {
  ToolBar1->setIconSize(IconSize(QStyle::PM_SmallIconSize));
  LvwFiles->setIconSize(IconSize(QStyle::PM_SmallIconSize));
}

QString TFrmMain::RateText(double bytesPerSecond, std::int64_t secondsLeft) {
  return tr("%1 MB/s, %2 left")
      .arg(ZantrelApp::NumberLocale().toString(bytesPerSecond / 1e6, 'f', 1),
           QString::fromStdString(VEKRiff::ClockText(secondsLeft)));
}

QString TFrmMain::HelpText() const {
  auto keys = [](const QAction* action) {
    return action->shortcut().toString(QKeySequence::NativeText).toHtmlEscaped();
  };
  auto plain = [](QString caption) { return caption.remove(QLatin1Char('&')).remove(QLatin1String("...")); };
  const QString configuration = plain(MnuTools->title()) + QStringLiteral(" \u203a ") + plain(ActConfig->text());
  const QString copy = QString::fromLocal8Bit(Settings.Prefix) + QStringLiteral("clip.avi");
  const QString paragraphs[] = {
      tr("<b>Add files</b>: drop AVI files or folders on the list, or press %1 (%2 for a folder).")
          .arg(keys(ActFileAdd), keys(ActFileAddFolder)),
      tr("<b>Check errors</b> (%1) reads the files and says which are damaged; it changes nothing.")
          .arg(keys(ActActionCheckErrors)),
      tr("<b>Rebuild Index</b> (%1) repairs them into a copy beside each file, named with the prefix: %2 for "
         "clip.avi. The original file stays as it was.")
          .arg(keys(ActActionFix), copy.toHtmlEscaped()),
      tr("<b>Keep original file</b>, in %1 (%2): unchecked, a rebuild rewrites the file itself and makes no copy.")
          .arg(configuration.toHtmlEscaped(), keys(ActConfig)),
      tr("The Messages Center tells what was found in the selected file; %1 saves it to a text file.")
          .arg(keys(ActSaveMessages)),
  };
  QString html;
  for (const QString& p : paragraphs) html += QStringLiteral("<p>") + p + QStringLiteral("</p>");
  return html;
}

// ---- start-up and shutdown ----

void TFrmMain::FormCreate(const QStringList& arguments) {
  // The system's language until the settings say otherwise: a settings file
  // that cannot be read is reported in it. QLocale() is the system's locale
  // unless a test has set another.
  const std::int8_t systemLanguage = ZantrelApp::ChosenLanguage(std::nullopt, QLocale());
  ZantrelApp::UseLanguage(systemLanguage);
  setAcceptDrops(true);
  setWindowTitle(QApplication::applicationName());
  // What a first start shows; the settings read it as their defaults and
  // replace whatever they hold.
  LayOutFirstStart(screen()->availableGeometry());
  LoadSettings();
  // The language the system gave is the user's choice from now on, saved
  // with the other settings, until the Configuration dialog changes it.
  if (!Settings.Language) Settings.Language = systemLanguage;
  ZantrelApp::UseLanguage(ZantrelApp::ChosenLanguage(Settings.Language, QLocale()));
  // Argument 0 is the program itself. Argument 1 is a switch or already the
  // first file: a file manager passes only the files.
  const QString first = arguments.size() > 1 ? arguments[1].toLower() : QString();
  const bool isSwitch = first == "/checkerrors" || first == "/rebuildindex" || first == "/inst" || first == "/uninst";
  AddPaths(arguments.mid(isSwitch ? 2 : 1));
  if (first == "/checkerrors") TmrCheckErrors->start();
  if (first == "/rebuildindex") TmrRebuildIndex->start();
}

void TFrmMain::FormDestroy() { SaveSettingsOrReport(); }

void TFrmMain::LoadSettings() {
  Settings.ReadWindowLayout(*this);
  Settings.Load(store_);
  Settings.ApplyWindowLayout(*this);
  RefreshMessagesView();
}

void TFrmMain::SaveSettings() {
  Settings.ReadWindowLayout(*this);
  Settings.Save(store_);
}

bool TFrmMain::SaveSettingsOrReport() {
  // A failed save (a full disk, a settings file that cannot be parsed) must
  // not escape an event handler: that would end the program with it.
  try {
    SaveSettings();
    return true;
  } catch (const std::exception& e) {
    prompts_.Ask(QText(MsgSettingsNotSavedCaption), QString::fromStdString(e.what()), ZantrelApp::PromptButtons::Ok,
                 ZantrelApp::PromptIcon::Error);
    return false;
  }
}

void TFrmMain::closeEvent(QCloseEvent* event) {
  // Mid-stop the window stays: the wait still serves the rows it reports to.
  if (Session.State().WaitingForStop) {
    event->ignore();
    return;
  }
  // A search asked to stop ends as the window goes.
  if (searching_ && !StopOperation()) {
    event->ignore();
    return;
  }
  // A run that ended by itself while the stop question was open closed the
  // question; the close the user asked for then goes ahead.
  if (Session.Running() && !StopOperation() && Session.Running()) {
    event->ignore();
    return;
  }
  event->accept();
}

// ---- the window as the settings see it ----

SettingsWindow::Placement TFrmMain::GetPlacement() const {
  Placement p;
  p.ShowCmd = isMaximized() ? ShowMaximized : isMinimized() ? ShowMinimized : ShowNormal;
  const QRect r = normalGeometry().isValid() ? normalGeometry() : geometry();
  p.NormalPosition = {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
  return p;
}

void TFrmMain::SetPlacement(const Placement& placement) {
  const Rect& n = placement.NormalPosition;
  const QRect wanted(n.Left, n.Top, n.Right - n.Left, n.Bottom - n.Top);
  const QRect current = normalGeometry().isValid() ? normalGeometry() : geometry();
  // A stored rectangle of no size gets the size and place of a first start;
  // nothing stored gives back the first start's, laid out before the load.
  if (wanted.width() <= 0 || wanted.height() <= 0)
    LayOutFirstStart(screen()->availableGeometry());
  else if (wanted != current)
    setGeometry(wanted);
  setWindowState(placement.ShowCmd == ShowMaximized ? Qt::WindowMaximized : Qt::WindowNoState);
}

QSize TFrmMain::FirstRunSize(const QRect& available) const {
  // Room for the list's columns and the messages side by side: two thirds
  // of the screen's free area, grown to what the window's font needs,
  // within that area less some room for the window manager's frame.
  const QSize room = available.size() - QSize(available.width() / 20, available.height() / 10);
  return (available.size() * 2 / 3).expandedTo(QSize(552, 501)).expandedTo(minimumSizeHint()).boundedTo(room);
}

void TFrmMain::LayOutFirstStart(const QRect& available) {
  QRect frame(QPoint(0, 0), FirstRunSize(available));
  frame.moveCenter(available.center());
  setGeometry(frame);
  // The designed widths are for the designed font; a larger one (a larger
  // point size, a screen of more dots per inch) gets wider columns.
  const double scale = double(IconSize(QStyle::PM_SmallIconSize).height()) /
                       std::max(1, style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this));
  const int file = qRound(200 * scale), folder = qRound(350 * scale), result = qRound(150 * scale);
  // The list shows its three columns, with its frame and scroll bar, in at
  // most two thirds of the window: the messages keep the rest. The folder,
  // last and longest, gives up what there is no room for.
  const int around = 2 * LvwFiles->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
  pendingFilesWidth_ = std::min(file + folder + result + around, frame.width() * 2 / 3);
  LvwFiles->setColumnWidth(0, file);
  LvwFiles->setColumnWidth(ResultColumn, result);
  LvwFiles->setColumnWidth(1, std::max(folder / 3, pendingFilesWidth_ - around - file - result));
}

void TFrmMain::SetTopMost(bool topMost) {
  if (bool(windowFlags() & Qt::WindowStaysOnTopHint) == topMost) return;
  // A new flag means a new native window, which Qt puts back at pos(): the
  // corner of the frame, taken as where the frame goes. Before the window is
  // first shown pos() is where the inside goes, so the window would come up
  // one frame lower and further right at every start. The inside's own
  // rectangle and the state go back instead; a window never placed is left
  // to the window manager.
  const bool visible = isVisible();
  const bool placed = visible || testAttribute(Qt::WA_Moved);
  const Qt::WindowStates states = windowState();
  const QRect keep = normalGeometry().isValid() ? normalGeometry() : geometry();
  setWindowFlag(Qt::WindowStaysOnTopHint, topMost);
  if (placed) setGeometry(keep);
  setWindowState(states);
  if (visible) show();
}

std::int32_t TFrmMain::FilesPanelWidth() const {
  return pendingFilesWidth_ >= 0 ? pendingFilesWidth_ : PnlFiles->width();
}

void TFrmMain::SetFilesPanelWidth(std::int32_t width) {
  if (!isVisible()) {
    pendingFilesWidth_ = width;
    return;
  }
  const int total = Splitter1->width() - Splitter1->handleWidth();
  Splitter1->setSizes({width, std::max(1, total - width)});
}

std::int32_t TFrmMain::FilesColumnWidth(int column) const {
  // A hidden column is 0 wide in the list; it keeps the width it had.
  if (column == OutputColumn && LvwFiles->isColumnHidden(column)) return outputWidth_;
  return LvwFiles->columnWidth(column);
}

void TFrmMain::SetFilesColumnWidth(int column, std::int32_t width) {
  if (column == OutputColumn) {
    if (width <= 0) return;  // a hand-edited value: the column stays findable
    outputWidth_ = width;
    if (LvwFiles->isColumnHidden(column)) return;
  }
  LvwFiles->setColumnWidth(column, width);
}

bool TFrmMain::FilesColumnShown(int column) const { return !LvwFiles->isColumnHidden(column); }

void TFrmMain::SetFilesColumnShown(int column, bool shown) {
  if (column != OutputColumn || shown == FilesColumnShown(column)) return;
  if (!shown) outputWidth_ = LvwFiles->columnWidth(column);
  LvwFiles->setColumnHidden(column, !shown);
  if (shown) LvwFiles->setColumnWidth(column, outputWidth_);
  ActOutputColumn->setChecked(shown);
}

// ---- rows ----

QTreeWidgetItem* TFrmMain::Row(int row) const { return LvwFiles->topLevelItem(row); }

RowMark TFrmMain::Mark(int row) const { return Batch.Entry(row).Mark; }

QStringList TFrmMain::RowMessages(int row) const { return QLines(Batch.Entry(row).Lines); }

QStringList TFrmMain::AllMessages() const { return QLines(Batch.AllLines()); }

std::optional<QString> TFrmMain::RowOutputPath(int row) const {
  const auto& output = Batch.Entry(row).Output;
  if (!output) return std::nullopt;
  return Shown(*output);
}

QString TFrmMain::RowPath(int row) const { return Shown(Batch.Entry(row).Path); }

void TFrmMain::SetMark(int row, RowMark mark) {
  Batch.SetMark(row, mark);
  ShowRow(row);
}

void TFrmMain::ShowRow(int row) {
  QTreeWidgetItem* item = Row(row);
  const VEKRiff::BatchEntry& entry = Batch.Entry(row);
  item->setIcon(0, entry.Mark == MarkNone ? NoMarkIcon() : ZantrelApp::MarkIcon(entry.Mark));
  item->setText(ResultColumn, QString::fromStdString(VEKRiff::ResultOf(entry)));
  // A file rewritten in place shows its own name; a check, nothing.
  const std::optional<std::string> output = VEKRiff::RepairedFileOf(entry);
  item->setText(OutputColumn, output ? Shown(VEK::ExtractFileName(*output)) : QString());
  item->setToolTip(OutputColumn, output ? Shown(*output) : QString());
  ShowMarkInWords(row);
  FitResultColumn(row);
}

void TFrmMain::FitResultColumn(int row) {
  // A result is read whole: the column grows to the longest one shown, in
  // any language and at any font size, and never shrinks by itself.
  const QModelIndex index = LvwFiles->indexFromItem(Row(row), ResultColumn);
  const int needed = LvwFiles->sizeHintForIndex(index).width();
  if (needed > LvwFiles->columnWidth(ResultColumn)) LvwFiles->setColumnWidth(ResultColumn, needed);
}

void TFrmMain::ShowMarkInWords(int row) {
  // The mark in words, for the tool tip and for a screen reader.
  QString words;
  switch (Mark(row)) {
    case MarkNone: break;
    case MarkOk: words = Batch.Entry(row).Repaired ? tr("Repaired") : tr("Healthy"); break;
    case MarkErrors: words = tr("Errors found, or not done"); break;
    case MarkBusy: words = tr("Being worked on"); break;
    case MarkRebuilt: words = tr("Rebuilt"); break;
    case MarkAborted: words = tr("Stopped"); break;
    case MarkSkipped: words = tr("Skipped"); break;
    case MarkNotAvi: words = tr("Not an AVI file"); break;
  }
  QTreeWidgetItem* item = Row(row);
  const QString path = RowPath(row);
  item->setToolTip(0, words.isEmpty() ? path : path + QLatin1Char('\n') + words);
  item->setData(0, Qt::AccessibleDescriptionRole, words);
}

int TFrmMain::FirstSelectedRow() const {
  for (int i = 0; i < LvwFiles->topLevelItemCount(); ++i)
    if (Row(i)->isSelected()) return i;
  return -1;
}

void TFrmMain::AddRows(int from) {
  for (int row = from; row < Batch.Count(); ++row) {
    LvwFiles->addTopLevelItem(new QTreeWidgetItem);
    ShowRowFile(row);
    ShowRow(row);
  }
}

void TFrmMain::ShowRowFile(int row) {
  // Folder: everything before the last separator, without it, except
  // that the root keeps its separator.
  QTreeWidgetItem* item = Row(row);
  const std::string& path = Batch.Entry(row).Path;
  item->setText(0, Shown(VEK::ExtractFileName(path)));
  item->setText(1, Shown(VEK::ExtractFileDir(path)));
  // The whole path, for a row too narrow to show it.
  item->setToolTip(0, Shown(path));
  item->setToolTip(1, Shown(path));
}

bool TFrmMain::AddFile(const std::string& path) {
  const int from = Batch.Count();
  if (!Batch.Add(path)) return false;
  AddRows(from);
  return true;
}

void TFrmMain::AddPaths(const QStringList& paths) {
  std::vector<std::string> given;
  for (const QString& path : paths) given.push_back(Bytes(path));
  const int from = Batch.Count();
  Batch.AddPaths(given, Settings.Prefix);
  AddRows(from);
}

void TFrmMain::ShowMessages(const VEKRiff::LineList& lines) {
  // The lists already hold every waiting line: a replaced view has them.
  EdtLogs->SetLines(lines);
}

void TFrmMain::ClearMessagesView() { EdtLogs->Clear(); }

void TFrmMain::FlushMessages() {
  // The waiting lines together: the view scrolls once, and keeps the user's
  // scroll position unless it was at the bottom.
  EdtLogs->ShowAdded();
}

void TFrmMain::ShowFirstSelectedRowMessages() {
  const int first = FirstSelectedRow();
  if (first >= 0) ShowMessages(Batch.Entry(first).Lines);
  else ClearMessagesView();
}

void TFrmMain::ShowSelectedRowDamage() {
  const int first = FirstSelectedRow();
  StrDamage->SetDamage(first >= 0 ? Batch.Entry(first).Damage : VEKRiff::FileDamage{});
}

void TFrmMain::LvwFilesSelectItem() {
  if (Settings.SelectedFile) ShowFirstSelectedRowMessages();
  ShowSelectedRowDamage();
}

void TFrmMain::DeleteRow(int row) {
  // The row still belongs to the list and the selection while the view is
  // refreshed; its message list goes with it.
  if (Settings.SelectedFile) ShowFirstSelectedRowMessages();
  QSignalBlocker quiet(LvwFiles->selectionModel());
  Batch.Remove(row);
  delete LvwFiles->takeTopLevelItem(row);
}

void TFrmMain::RefreshMessagesView() {
  if (!Settings.SelectedFile)
    ShowMessages(Batch.AllLines());
  else ShowFirstSelectedRowMessages();
  MnuStayOnTop->setChecked(Settings.StayOnTop);
}

// ---- commands ----

void TFrmMain::UpdateActions() {
  VEKRiff::Commands c = Session.Enabled();
  if (searching_) c = VEKRiff::SearchCommands(Batch, search_->Terminated(), SelectedRows());
  ActRecover->setEnabled(VEKRiff::RecoveryMayStart(Recovering(), Session.State()));
  ActFileClear->setEnabled(c.Clear);
  ActFileAdd->setEnabled(c.Add);
  ActFileAddFolder->setEnabled(c.AddFolder);
  ActFileRemove->setEnabled(c.Remove);
  ActActionCheckErrors->setEnabled(c.Check);
  ActActionFix->setEnabled(c.Rebuild);
  ActCheckSelected->setEnabled(c.CheckSelected);
  ActRebuildSelected->setEnabled(c.RebuildSelected);
  ActReference->setEnabled(c.Reference);
  ActActionStop->setEnabled(c.Stop);
  ActOpenFile->setEnabled(c.OpenFile);
  ActOpenFixedFile->setEnabled(c.OpenFixedFile);
  ActOpenContainingFolder->setEnabled(c.OpenFolder);
  ActShowCopyFolder->setEnabled(c.ShowCopyFolder);
  ActOutputColumn->setChecked(FilesColumnShown(OutputColumn));
}

void TFrmMain::ClearList() {
  showsSummary_ = false;
  StatusBar1->clearMessage();
  LvwFiles->clear();
  Batch.Clear();
  ClearMessagesView();
  ShowSelectedRowDamage();
  // The last run's summary spoke of rows that are gone.
  StatusBar1->clearMessage();
}

void TFrmMain::ActFileAddExecute() {
  const QStringList files = ChooseFiles(lastFolder_);
  if (!files.isEmpty()) lastFolder_ = QFileInfo(files.front()).absolutePath();
  AddPaths(files);
}

void TFrmMain::ActFileRemoveExecute() {
  for (int i = LvwFiles->topLevelItemCount() - 1; i >= 0; --i)
    if (Row(i)->isSelected()) DeleteRow(i);
}

void TFrmMain::TakeHandedPaths(const QStringList& paths) {
  handedPaths_ += paths;
  AddHandedPaths();
  // The user asked for this window: it comes to the front, as it was.
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  raise();
  activateWindow();
}

void TFrmMain::AddHandedPaths() {
  // As a drop: never into a running list, nor under a question that may be
  // choosing the rows of a run that starts.
  const bool wait =
      Session.Running() || searching_ || Session.State().WaitingForStop || QApplication::activeModalWidget();
  if (handedPaths_.isEmpty() || wait) {
    if (handedPaths_.isEmpty()) tmrHanded_->stop();
    else tmrHanded_->start();
    return;
  }
  tmrHanded_->stop();
  AddPaths(std::exchange(handedPaths_, QStringList()));
}

void TFrmMain::ActOpenExecute(OpenTarget target) {
  const int first = FirstSelectedRow();
  if (first < 0) return;
  const std::optional<std::string> copy = VEKRiff::CopyOf(Batch.Entry(first));
  switch (target) {
    case OpenTarget::File: OpenPath(RowPath(first)); break;
    case OpenTarget::FixedFile:
      if (copy) OpenPath(Shown(*copy));
      break;
    case OpenTarget::Folder: ShowInFolder(RowPath(first)); break;
    case OpenTarget::CopyFolder:
      if (copy) ShowInFolder(Shown(*copy));
      break;
  }
}

void TFrmMain::OpenRow(int row) {
  if (Session.Running() || !Row(row)) return;  // as Play: not while the list is being worked on
  OpenPath(Shown(VEKRiff::FileToPlay(Batch.Entry(row))));
}

void TFrmMain::ShowInFolder(const QString& path) {
  // The desktop's open action on the folder: file managers differ in how,
  // or whether, they select a file given from outside.
  OpenPath(QFileInfo(path).absolutePath());
}

void TFrmMain::OpenPath(const QString& path) {
  // The desktop shows nothing of its own when it cannot open a path.
  const VEK::MessagePair* failure = nullptr;
  if (!QFileInfo::exists(path)) failure = &MsgDoesNotExist;
  else if (!OpenUrl(QUrl::fromLocalFile(path))) failure = &MsgNoProgram;
  if (failure)
    prompts_.Ask(QText(MsgOpenCaption), QText(*failure, QDir::toNativeSeparators(path)), ZantrelApp::PromptButtons::Ok,
                 ZantrelApp::PromptIcon::Warning);
}

void TFrmMain::SaveMessages() {
  const QString path = ChooseMessagesFile();
  if (path.isEmpty()) return;
  FlushMessages();
  WriteMessages(path, EdtLogs->Text());
}

void TFrmMain::SaveAllMessages() {
  const QString path = ChooseMessagesFile();
  if (path.isEmpty()) return;
  Session.TakeLines();  // a run's lines so far
  WriteMessages(path, AllMessages().join(QLatin1Char('\n')));
}

void TFrmMain::WriteMessages(const QString& path, const QString& lines) {
  QSaveFile file(path);
  QByteArray text = lines.toUtf8();
  if (!text.isEmpty()) text += '\n';
  if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
    prompts_.Ask(QText(MsgMessagesNotSavedCaption), QText(MsgMessagesNotSaved, path, file.errorString()),
                 ZantrelApp::PromptButtons::Ok, ZantrelApp::PromptIcon::Error);
}

void TFrmMain::SaveReport() {
  const QString path = ChooseReportFile();
  if (path.isEmpty()) return;
  Session.TakeLines();  // a run's findings so far
  const std::string report = VEKRiff::ListReport(Batch);
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(report.data(), static_cast<qint64>(report.size())) != static_cast<qint64>(report.size()) ||
      !file.commit())
    prompts_.Ask(QText(MsgMessagesNotSavedCaption),
                 QString::fromStdString(VEKRiff::ReportNotSaved(path.toStdString(), file.errorString().toStdString())),
                 ZantrelApp::PromptButtons::Ok, ZantrelApp::PromptIcon::Error);
}

void TFrmMain::CopyMessages() {
  FlushMessages();
  QGuiApplication::clipboard()->setText(EdtLogs->Text());
}

void TFrmMain::ActConfigExecute() {
  if (!EditConfiguration || !EditConfiguration(Settings)) return;
  ZantrelApp::UseLanguage(ZantrelApp::ChosenLanguage(Settings.Language, QLocale()));
  RefreshMessagesView();
  SaveSettingsOrReport();
}

void TFrmMain::MnuStayOnTopClick() {
  Settings.StayOnTop = !Settings.StayOnTop;
  MnuStayOnTop->setChecked(Settings.StayOnTop);
  SetTopMost(Settings.StayOnTop);
  SaveSettingsOrReport();
}

void TFrmMain::PmnFilesPopup(const QPoint& at) {
  UpdateActions();
  PmnFiles->popup(LvwFiles->viewport()->mapToGlobal(at));
}

void TFrmMain::dragEnterEvent(QDragEnterEvent* event) {
  if (!Session.Running() && event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TFrmMain::dropEvent(QDropEvent* event) {
  if (Session.Running()) return;
  HandleDroppedFiles(event->mimeData()->urls());
  event->acceptProposedAction();
}

void TFrmMain::HandleDroppedFiles(const QList<QUrl>& urls) {
  if (Session.Running() || searching_) return;
  QStringList paths;
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    const QFileInfo info(url.toLocalFile());
    // Whatever lands on the window is dropped: a file of another kind (a
    // photo, an MP4) is told apart by its name, for a damaged AVI file may
    // have lost the header that would say what it is.
    if (!info.isDir() && info.suffix().compare(QLatin1String("avi"), Qt::CaseInsensitive) != 0) {
      const QString line = tr("\"%1\" was not added: only AVI files (.avi) are checked and rebuilt.")
                               .arg(info.fileName());
      Batch.AddLine(line.toStdString());
      EdtLogs->AddLine(Batch.AllLines().back());
      FlushMessages();
      StatusBar1->showMessage(line);
      continue;
    }
    paths << info.filePath();
  }
  AddPaths(paths);
}

// ---- operations ----

void TFrmMain::StartOperation(bool checkOnly, VEKRiff::RunScope scope) {
  if (Session.Start(VEKRiff::RunOptionsOf(Settings, checkOnly, Bytes(ReferenceFile)), scope)) UpdateActions();
}

bool TFrmMain::StopOperation() {
  FlushMessages();
  if (searching_) return StopSearch();
  if (Session.Running()) PnlStatus->repaint();
  return Session.Stop(Settings.StopPrompt);
}

std::vector<bool> TFrmMain::SelectedRows() const {
  std::vector<bool> selected(Batch.Count());
  for (int i = 0; i < Batch.Count(); ++i) selected[i] = Row(i) && Row(i)->isSelected();
  return selected;
}

void TFrmMain::SelectRowAlone(int row) {
  if (!Row(row)) return;
  LvwFiles->clearSelection();
  Row(row)->setSelected(true);
  // The keyboard goes on from the row the work is on.
  LvwFiles->setCurrentItem(Row(row), 0, QItemSelectionModel::NoUpdate);
}

void TFrmMain::ShowRow(int row, bool done) {
  QTreeWidgetItem* item = Row(row);
  if (!item) return;
  ShowRow(row);
  if (done && item->isSelected()) ShowSelectedRowDamage();
}

void TFrmMain::ShowRunFile(int row) {
  if (QTreeWidgetItem* item = Row(row)) LvwFiles->scrollToItem(item);  // a long batch stays in view
}

void TFrmMain::ShowLine(int row, const VEKRiff::LineList& kept) {
  // A line of no row (the window's own) shows with the whole list's.
  const bool shown = !Settings.SelectedFile || (Row(row) && Row(row)->isSelected());
  if (shown) EdtLogs->AddLastLineOf(kept);
}

void TFrmMain::ShowRunState() {
  const VEKRiff::RunState& run = Session.State();
  if (const VEK::MessagePair* status = Session.Status()) {
    PnlStatus->setText(QText(*status));
    PnlStatus->repaint();
  }
  UpdateActions();
  if (run.Running && run.Stopping) return;
  const bool running = run.Running;
  if (running) {
    StatusBar1->clearMessage();
    showsSummary_ = false;
    ProgressBar2->setRange(0, 100 * Batch.BatchSize());
    // A recovery's rebuild goes on below its search's lines.
    if (Settings.AutoClear && !Recovering()) ClearMessagesView();
  }
  ProgressBar1->setValue(0);
  ProgressBar2->setValue(0);
  ProgressBar2->setFormat(running ? QString::fromStdString(VEKRiff::PositionText(Batch)) : QString());
  PnlStats->setVisible(running);
  StatusBars->setCurrentWidget(running ? StatusBar2 : StatusBar1);
  LblRate->clear();
  if (running) {
    TmrProgress->start();
    tmrLines_->start();
  } else {
    TmrProgress->stop();
    tmrLines_->stop();
    if (showsSummary_) StatusBar1->showMessage(QString::fromStdString(Batch.SummaryLine().value_or(std::string())));
    setWindowTitle(QApplication::applicationName());
  }
  setAcceptDrops(!running);
  if (!running && Recovering()) {
    KeepRecoveredFilms();
    EndRecovery();
  }
}

void TFrmMain::ShowSummary(const std::string& summary) {
  // In the log and in the status bar, and a word to a user who is elsewhere.
  const QString line = QString::fromStdString(summary);
  if (!Settings.SelectedFile) {
    EdtLogs->AddLine(summary);
    FlushMessages();
  }
  // The status bar says it once it is back in place (ShowRunState): a
  // message shown on a hidden status bar leaves its "Ready" drawn under it.
  showsSummary_ = true;
  if (isActiveWindow()) return;
  QApplication::alert(this);
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    if (!tray_) tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->show();
    tray_->showMessage(QApplication::applicationName(), line, QSystemTrayIcon::Information, 10000);
  }
}

void TFrmMain::ShowProgress(const VEKRiff::RunProgress& p) {
  // "Zantrel — 3/40 — clip.avi": the taskbar tells how far the batch is, as
  // the batch bar does.
  const QString position = QString::fromStdString(p.Position);
  const QString title = QString("%1 \u2014 %2 \u2014 %3")
                            .arg(QApplication::applicationName(), position, Shown(p.FileName));
  if (windowTitle() != title) setWindowTitle(title);
  ProgressBar1->setValue(p.File);
  ProgressBar2->setValue(p.Batch);
  ProgressBar2->setFormat(position);
  LblRate->setText(p.Rate ? RateText(p.Rate->BytesPerSecond, p.Rate->SecondsLeft) : QString());
  ShowCounters(p.Errors, p.VideoFrames, p.AudioSamples);
}

void TFrmMain::ServeEventsButInput() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

void TFrmMain::ShowCounters(std::int32_t errors, std::int64_t videoFrames, std::int64_t audioSamples) {
  StatusBar2Panels[0]->setText(QString::fromStdString(VEKRiff::ErrorsText(errors)));
  StatusBar2Panels[1]->setText(QString::fromStdString(VEKRiff::VideoFramesText(videoFrames)));
  StatusBar2Panels[2]->setText(QString::fromStdString(VEKRiff::AudioSamplesText(audioSamples)));
  StatusBar2->repaint();
}

