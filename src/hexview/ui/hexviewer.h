#pragma once
// The HEX file viewer: the modal window in which the service-menu reflash
// picks an Intel HEX file and shows its first 64 KiB as 16-byte rows. It is
// created at start and lives until exit, so the file and the grid stay from
// one opening to the next. A file that does not load leaves the window with
// no file chosen, so OK then hands nothing to the device.
#include <QDialog>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "firmware/hexgrid.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QToolButton;
class QWidget;

namespace tarvik {

class HexGridModel;

// The window's controls, built in code.
struct TformUpdateInsertionUi {
  QGroupBox* fileGroup = nullptr;
  QLabel* pathLabel = nullptr;
  QLineEdit* etPath = nullptr;
  QToolButton* browseButton = nullptr;
  // Row 0 and column 0 of the grid are the view's headers; the cells are
  // rows 1 on and columns 1 to 16.
  QTableView* sgHex = nullptr;
  QWidget* dialogButtons = nullptr;
  // Says how many bytes of the file lie beyond what the grid holds.
  QLabel* lbLeftOut = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};

// The open dialog of the browse button: "HEX FILES (*.hex)", starting in the
// user's home folder, the file must exist. The chosen path, or an empty text
// when the user cancels.
QString ChooseHexFile(QWidget* parent);

class TformUpdateInsertion : public QDialog {
  Q_OBJECT

 public:
  using FileChooser = std::function<QString(QWidget* parent)>;
  using ErrorHook = std::function<void(const QString& text)>;

  explicit TformUpdateInsertion(QWidget* parent = nullptr);
  ~TformUpdateInsertion() override;

  // Seams for tests: how a file is chosen (default: ChooseHexFile) and how
  // a load error is shown (default: an error message box).
  void SetFileChooser(FileChooser chooser) { chooseFile_ = std::move(chooser); }
  void SetErrorHook(ErrorHook hook) { showError_ = std::move(hook); }

  // The browse button: choose a file and load it. Cancelling the choice
  // changes nothing; a file that does not load is reported and leaves no
  // file chosen.
  void LoadHexFile();

  // What the service-menu reflash reads after OK. The path as Windows-1251
  // text, empty while no file is chosen; the grid always matches it.
  std::string Path() const;
  const HexGrid& Grid() const;
  // Data bytes of the loaded file beyond the first 64 KiB.
  std::size_t BytesLeftOut() const { return bytesLeftOut_; }

  const TformUpdateInsertionUi& Ui() const { return ui_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildUi();
  void LoadFile(const QString& path);
  // leftOutText: what the load left out, for the user (LeftOutLines).
  void ShowLoad(const QString& path, HexGrid grid, std::size_t leftOut, const QString& leftOutText);
  void Fail(const QString& path, const QString& reason);

  TformUpdateInsertionUi ui_;
  HexGridModel* model_ = nullptr;  // owned as a child object
  FileChooser chooseFile_;
  ErrorHook showError_;
  std::size_t bytesLeftOut_ = 0;
};

}  // namespace tarvik
