
#include <QDir>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <fstream>

#include "app/results/record_header.h"
#include "app/results/reports_dialog.h"
#include "app/results/results_screenshots.h"
#include "app/results/scan_result_dialog.h"
#include "app/results/threat_management_dialog.h"
#include "platform/path.h"
#include "platform/text.h"

namespace {

void writeFile(const QString& path, const std::string& bytes) {
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

std::u16string windows(const QString& host) { return platform::toWindowsPath(host.toStdString()); }

}  // namespace

bool RenderResultsDialogs(QWidget* owner,
                          const std::function<bool(QWidget&, const QString&)>& save) {
    QTemporaryDir sample;
    if (!sample.isValid()) return false;
    QDir root(sample.path());
    root.mkpath("logs");
    root.mkpath("infected");

    const std::string run = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    std::string report =
        "\n\r Orvane Anti-Malware (Wardline)\n\r https://www.orvane.example\n\r"
        "\n\r\n\r Scan Type: Full System Scout\n\r\n\r Started On: 03/05/2026/ 07:08:09\n\r\n\r";
    report += " Infected Generic Malware: C:\\home\\ann\\Downloads\\invoice.pdf.exe [(null)].\n\r";
    report +=
        " Infected Generic Trojan: C:\\home\\ann\\.local\\bin\\updater [DoScanRegistryLocations: " +
        run + "\\Updater].\n\r";
    report += " Infected Generic Malware: C:\\tmp\\setup\\keygen.exe [setup.zip: keygen.exe].\n\r";
    report +=
        "\n\r\n\r Scan Finished!, 4213 Object Scanned, 3 Infected Object Found.\n\r\n\r Ended On: "
        "3/5/2026/ 7:12:40\n\r\n\r";
    const QString reportPath = root.filePath("logs/Orvane_3.5.2026.7.8.9.log");
    writeFile(reportPath, report);
    writeFile(root.filePath("logs/Orvane_3.1.2026.22.40.2.log"),
              " Scan Finished!, 812 Object Scanned, No Infected Found.");
    writeFile(root.filePath("logs/Orvane_2.27.2026.9.15.51.log"),
              " Scan Finished!, 15230 Object Scanned, 1 Infected Object Found.");

    struct Sample {
        const char* digest;
        const char16_t* path;
        std::u16string location;
        const char16_t* type;
    } records[] = {
        {"5d41402abc4b2a76b9719d911017c592", u"C:\\home\\ann\\Downloads\\invoice.pdf.exe ",
         u"(null)", u"Malware"},
        {"7d793037a0760186574b0282f2f435e7", u"C:\\home\\ann\\.local\\bin\\updater ",
         platform::toUtf16(run) + u"\\Updater", u"Trojan"},
    };
    for (const Sample& record : records) {
        const QString path = root.filePath(QString("infected/%1.ovm").arg(record.digest));
        writeFile(path, RecordHeaderBytes(
                            BuildRecordHeaderText(record.path, record.location, record.type)) +
                            "content");
    }

    bool ok = true;
    {
        ScanResultDialog results(u"", windows(reportPath), owner,
                                 windows(root.filePath("infected")));
        results.list()->topLevelItem(1)->setCheckState(0, Qt::Checked);
        results.list()->topLevelItem(0)->setText(3, "Quarantine");
        ok = save(results, "scan_results") && ok;
    }
    {
        ThreatManagementDialog threats(owner, windows(root.filePath("infected")));
        ok = save(threats, "threat_management") && ok;
    }
    {
        ReportsDialog reports(owner, windows(root.filePath("logs")),
                              [](std::u16string_view) { return 0u; });
        ok = save(reports, "reports") && ok;
    }
    return ok;
}
