// Drives the file-backed user defaults from the command line so tests can use a second process:
//   defaults_tool FILE get KEY              prints "missing" or the kind and JSON of the value
//   defaults_tool FILE set KEY JSON         stores the value, synchronizes, prints the outcome and the value
//   defaults_tool FILE set-on-input KEY JSON   prints "ready", waits for a line on stdin, then does set
//   defaults_tool FILE alternate KEY        saves the two alternating records in turn until killed,
//                                           printing "saved" after each save
#include "AlternatingRecords.h"
#include "platform/SettingsUserDefaults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

void printValue(const QVariant &value) {
    if (!value.isValid()) {
        std::puts("missing");
        return;
    }
    const char *kind = value.typeId() == QMetaType::QString       ? "text"
                       : value.typeId() == QMetaType::QVariantMap ? "dictionary"
                                                                  : "other";
    const QByteArray json =
        QJsonDocument(QJsonArray{QJsonValue::fromVariant(value)}).toJson(QJsonDocument::Compact);
    std::printf("%s %s\n", kind, json.mid(1, json.size() - 2).constData());
}

int set(SettingsUserDefaults &defaults, const QString &key, const QByteArray &json) {
    const QJsonDocument parsed = QJsonDocument::fromJson("[" + json + "]");
    if (!parsed.isArray() || parsed.array().size() != 1) {
        std::fprintf(stderr, "defaults_tool: not a JSON value: %s\n", json.constData());
        return 2;
    }
    defaults.setValue(key, parsed.array().at(0).toVariant());
    const bool saved = defaults.synchronize();
    std::puts(saved ? "synchronized" : "not synchronized");
    printValue(defaults.value(key));
    return saved ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fputs("usage: defaults_tool FILE get|set|set-on-input|alternate KEY [JSON]\n", stderr);
        return 2;
    }
    SettingsUserDefaults defaults(QString::fromLocal8Bit(argv[1]));
    const std::string command = argv[2];
    const QString key = QString::fromLocal8Bit(argv[3]);
    if (command == "get") {
        printValue(defaults.value(key));
        return 0;
    }
    if (command == "set" && argc == 5)
        return set(defaults, key, argv[4]);
    if (command == "set-on-input" && argc == 5) {
        std::puts("ready");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
        return set(defaults, key, argv[4]);
    }
    if (command == "alternate") {
        const QVariantMap records[] = {alternatingRecord(0), alternatingRecord(1)};
        for (int i = 0;; i ^= 1) {
            defaults.setValue(key, records[i]);
            std::puts(defaults.synchronize() ? "saved" : "not saved");
            std::fflush(stdout);
        }
    }
    std::fprintf(stderr, "defaults_tool: unknown command %s\n", command.c_str());
    return 2;
}
