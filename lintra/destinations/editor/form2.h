#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class Form2Window;
class MessageBox;
class QTreeWidgetItem;
class ShellOpen;
struct Module1;
struct PCIPError;

// The destination editor: adds, modifies and deletes the destinations of
// the list file at listPath (the program passes PCIP.dat, relative to its
// working directory). One instance lives for the whole run and keeps
// SelectedRow; each opening builds the window afresh and loads the list.
class Form2 : public QObject
{
    Q_OBJECT

public:
    Form2(Module1 &module, MessageBox &messageBox, ShellOpen &shell, QString listPath,
          QObject *parent = nullptr);
    ~Form2() override;

    // Shows the editor modally, without an owner; returns once it is closed.
    void show();
    // Builds, loads and shows the window modally and returns at once; the
    // window goes when it is closed.
    void open();
    // The open window, or null.
    Form2Window *window() const { return m_window.get(); }

    // True when the five boxes hold an acceptable entry; otherwise warns,
    // empties the boxes and returns false.
    bool TextCheck();

    // The row highlighted last (from 1); 0 before the first of the run,
    // -1 after each completed modify or delete.
    qint16 SelectedRow = 0;

signals:
    // The window is built and loaded and about to run.
    void opened(Form2Window *window);

private:
    using Write = std::function<bool(PCIPError &)>;

    void Form_Load();
    void ListLoad();
    void EntryReset();
    void EntryReject();
    void FontEnlarge();
    void Command1_Click(); // add: the boxes become a new last record
    void Command2_Click(); // delete: after a question, the selected record goes
    void Command3_Click(); // modify: the boxes replace the selected record
    // A row clicked, activated or highlighted from the keyboard: it becomes
    // SelectedRow and fills the boxes (modify/delete mode).
    void ListView1_ItemClick(QTreeWidgetItem *item);
    void ListView1_SelectionChange();
    void h11_Click(); // opens the editor's help file

    // The one path of add, modify and delete once the buffer is filled:
    // write; on failure say why and reload the list, keeping the boxes;
    // otherwise show the change and go back to add mode.
    void commit(const Write &write, const std::function<void()> &showChange);
    void showSelectedRow();
    std::array<QString, 4> groups() const;
    bool selectedRowIsValid() const;
    void reportFileFailure(const QString &what, const PCIPError &error);

    Module1 &m_module;
    MessageBox &m_messageBox;
    ShellOpen &m_shell;
    const QString m_listPath;
    std::unique_ptr<Form2Window> m_window;
};
