// tova-demo-phonebook FILE: puts the contacts of a vCard or CSV file into the phonebook of the
// recordings folder beside the program, unless it has a contact of that name already, so that
// the demo's callers have names.
#include "AppInfo.h"
#include "ContactFiles.h"
#include "Journal.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: tova-demo-phonebook FILE\n");
        return 2;
    }
    bool readable = false;
    QList<tova::Contact> contacts = tova::readContactFile(app.arguments().at(1), readable);
    if (!readable) return 1;
    QDir().mkpath(tova::recordingsFolder());
    tova::Journal journal(tova::recordingsFolder());
    QStringList known;
    for (const tova::Contact& contact : journal.contacts())
        known << contact.name;
    contacts.removeIf([&](const tova::Contact& contact) { return known.contains(contact.name); });
    journal.addContacts(contacts);
    return 0;
}
