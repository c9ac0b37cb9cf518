#pragma once

#include <QObject>
#include <QString>

#include <array>
#include <memory>

class Form2Window;
class MessageBox;
class QTreeWidgetItem;
class ShellOpen;
struct Module1;

// The destination editor: adds, modifies and deletes the destinations of
// PCIP.dat. One instance lives for the whole run and keeps SelectedRow;
// each opening builds the window afresh and loads the list from the file.
class Form2 : public QObject
{
    Q_OBJECT

public:
    Form2(Module1 &module, MessageBox &messageBox, ShellOpen &shell, QObject *parent = nullptr);
    ~Form2() override;

    // Shows the editor modally, without an owner; returns once it is closed.
    void show();
    // The open window, or null.
    Form2Window *window() const { return m_window.get(); }

    // True when the five boxes hold an acceptable entry; otherwise warns,
    // empties the boxes and returns false.
    bool TextCheck();

    // The row last clicked (from 1); 0 before the first click of the run,
    // -1 after each completed modify or delete.
    qint16 SelectedRow = 0;

signals:
    // The window is built and loaded and about to run (tests drive it here).
    void opened(Form2Window *window);

private:
    void Form_Load();
    void ListLoad();
    void EntryReset();
    void EntryReject();
    void FontEnlarge();
    void Command1_Click(); // add
    void Command2_Click(); // delete
    void Command3_Click(); // modify
    void ListView1_ItemClick(QTreeWidgetItem *item);
    void h11_Click();

    std::array<QString, 4> groups() const;
    bool selectedRowIsValid() const;
    void reportFileFailure(const QString &what, const QString &detail);

    Module1 &m_module;
    MessageBox &m_messageBox;
    ShellOpen &m_shell;
    std::unique_ptr<Form2Window> m_window;
};
