<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Tempikon</name>
    <message>
        <location filename="../core/set_clock.cpp" line="105"/>
        <source>Couldn&apos;t reach timeserver(s)</source>
        <translation>Zeitserver nicht erreichbar</translation>
    </message>
    <message>
        <location filename="../core/set_clock.cpp" line="109"/>
        <source>Invalid data received</source>
        <translation>Ungültige Daten empfangen</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="12"/>
        <source>Current program mode is CONFIG</source>
        <translation>Aktueller Programmmodus ist CONFIG</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="13"/>
        <source>Current program mode is RUNONCE</source>
        <translation>Aktueller Programmmodus ist RUNONCE</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="14"/>
        <source>Current program mode is SERVER</source>
        <translation>Aktueller Programmmodus ist SERVER</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="15"/>
        <source>No timeserver selected</source>
        <translation>Kein Zeitserver ausgewählt</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="59"/>
        <source>&amp;Configuration</source>
        <translation>&amp;Konfiguration</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="60"/>
        <source>&amp;Set time</source>
        <translation>&amp;Zeit stellen</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="61"/>
        <source>&amp;?</source>
        <translation>&amp;?</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="152"/>
        <source>You must go through the configuration first.</source>
        <translation>Bitte zuerst die Konfiguration vornehmen.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="21"/>
        <source>Select from the list below</source>
        <translation>Aus der Liste unten wählen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="35"/>
        <source>Configuration</source>
        <translation>Konfiguration</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="60"/>
        <source>Primary Timeserver</source>
        <translation>Primärer Zeitserver</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="63"/>
        <location filename="../settings_dialog/config_dialog.cpp" line="70"/>
        <source>Offset</source>
        <translation>Versatz</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="64"/>
        <location filename="../settings_dialog/config_dialog.cpp" line="71"/>
        <source>Hours</source>
        <translation>Std.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="65"/>
        <source>Timeout</source>
        <translation>Zeitlimit</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="66"/>
        <source>Seconds</source>
        <translation>Sek.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="67"/>
        <source>Backup Timeserver</source>
        <translation>Ersatz-Zeitserver</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="72"/>
        <source>Interval (Server mode)</source>
        <translation>Intervall (Servermodus)</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="74"/>
        <source>Minutes</source>
        <translation>Min.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="33"/>
        <source>sends UTC</source>
        <translation>sendet UTC</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="75"/>
        <source>List of public Timerservers</source>
        <translation>Liste öffentlicher Zeitserver</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="88"/>
        <source>Check all</source>
        <translation>Alle prüfen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="90"/>
        <source>Check server</source>
        <translation>Server prüfen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="92"/>
        <source>Abort</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="94"/>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="96"/>
        <source>Cancel</source>
        <translation>Verwerfen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="98"/>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="101"/>
        <source>&amp;Set Server</source>
        <translation>&amp;Server setzen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="103"/>
        <source>Use as &amp;primary Timeserver</source>
        <translation>Als &amp;primären Zeitserver verwenden</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="105"/>
        <source>Use as backup Timeserver</source>
        <translation>Als Ersatz-Zeitserver verwenden</translation>
    </message>
    <message>
        <location filename="../settings_dialog/field_rules.h" line="15"/>
        <source>Please enter a valid timeout value.</source>
        <translation>Bitte ein gültiges Zeitlimit eingeben.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/field_rules.h" line="16"/>
        <source>Please select a primary timeserver and enter correct values for offset, timeout and interval.</source>
        <translation>Bitte einen primären Zeitserver wählen und gültige Werte für Versatz, Zeitlimit und Intervall eingeben.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/field_rules.h" line="21"/>
        <source>Check of all servers will end after the current server check.</source>
        <translation>Die Prüfung aller Server endet nach der laufenden Serverprüfung.</translation>
    </message>
    <message>
        <location filename="../about/about.cpp" line="44"/>
        <source>This is freeware.</source>
        <translation>Dies ist Freeware.</translation>
    </message>
    <message>
        <location filename="../about/about.cpp" line="47"/>
        <source>Visit us at</source>
        <translation>Besuchen Sie uns auf</translation>
    </message>
    <message>
        <location filename="../about/about.cpp" line="52"/>
        <source>Send mail to</source>
        <translation>Schreiben Sie an</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="22"/>
        <source>Time set to %1 d=%2s</source>
        <translation>Zeit gestellt auf %1 d=%2s</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="23"/>
        <source>Couldn&apos;t set system clock: %1</source>
        <translation>Systemuhr nicht gestellt: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="24"/>
        <source>%1 (Backup)</source>
        <translation>%1 (Ersatz)</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="25"/>
        <source>WARNING: The selected server &apos;%1&apos; didn&apos;t answer within the selected timeout. Do you want to use this server anyway?</source>
        <translation>WARNUNG: Der gewählte Server &apos;%1&apos; hat innerhalb des Zeitlimits nicht geantwortet. Diesen Server trotzdem verwenden?</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="28"/>
        <source>The settings could not be saved: %1</source>
        <translation>Die Einstellungen konnten nicht gespeichert werden: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="29"/>
        <source>Nothing on this system could open
%1</source>
        <translation>Kein Programm auf diesem System kann diese Adresse öffnen:
%1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="30"/>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="35"/>
        <source>The settings could not be saved.</source>
        <translation>Die Einstellungen konnten nicht gespeichert werden.</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="36"/>
        <source>unknown error</source>
        <translation>unbekannter Fehler</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="37"/>
        <source>automatic time synchronisation is on</source>
        <translation>die automatische Zeitsynchronisation ist eingeschaltet</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="38"/>
        <source>not authorised</source>
        <translation>nicht berechtigt</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="39"/>
        <source>no time service on this system</source>
        <translation>kein Zeitdienst auf diesem System</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="40"/>
        <source>the time service did not answer</source>
        <translation>der Zeitdienst hat nicht geantwortet</translation>
    </message>
</context>
</TS>
