<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>Tempikon</name>
    <message>
        <location filename="../core/set_clock.cpp" line="113"/>
        <source>Couldn&apos;t reach timeserver(s)</source>
        <translation>Zeitserver nicht erreichbar</translation>
    </message>
    <message>
        <location filename="../core/set_clock.cpp" line="127"/>
        <source>Invalid data received</source>
        <translation>Ungültige Daten empfangen</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="16"/>
        <source>Current program mode is CONFIG</source>
        <translation>Aktueller Programmmodus: Konfiguration</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="17"/>
        <source>Current program mode is RUNONCE</source>
        <translation>Aktueller Programmmodus: einmal stellen</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="18"/>
        <source>Current program mode is SERVER</source>
        <translation>Aktueller Programmmodus: dauerhaft stellen</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="19"/>
        <source>No timeserver selected</source>
        <translation>Kein Zeitserver ausgewählt</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="24"/>
        <location filename="../platform/qt/qt_translate.cpp" line="50"/>
        <source>The history could not be written: %1</source>
        <translation>Der Verlauf konnte nicht geschrieben werden: %1</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="25"/>
        <source>The system&apos;s automatic time is on, and while it is on the system refuses every other setting of the clock.

Turn the system&apos;s automatic time off and let Tempikon keep the clock?</source>
        <translation>Die automatische Zeit des Systems ist an, und solange sie an ist, verweigert das System jedes andere Stellen der Uhr.

Die automatische Zeit des Systems ausschalten und die Uhr Tempikon überlassen?</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="31"/>
        <location filename="../platform/qt/qt_translate.cpp" line="36"/>
        <source>The system&apos;s automatic time could not be turned off: %1</source>
        <translation>Die automatische Zeit des Systems konnte nicht ausgeschaltet werden: %1</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="33"/>
        <source>The clock was not set: the change needs a second opinion</source>
        <translation>Die Uhr wurde nicht gestellt: Die Änderung braucht eine zweite Meinung</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="83"/>
        <location filename="../app/main_window.cpp" line="219"/>
        <source>&amp;Configuration</source>
        <translation>&amp;Konfiguration</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="84"/>
        <location filename="../app/main_window.cpp" line="216"/>
        <source>&amp;Set time</source>
        <translation>&amp;Zeit stellen</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="85"/>
        <location filename="../app/main_window.cpp" line="222"/>
        <source>&amp;History</source>
        <translation>&amp;Verlauf</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="86"/>
        <source>&amp;?</source>
        <translation>&amp;?</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="406"/>
        <source>You must go through the configuration first.</source>
        <translation>Bitte zuerst die Konfiguration vornehmen.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="25"/>
        <source>Select from the list below</source>
        <translation>Aus der Liste unten wählen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="26"/>
        <location filename="../platform/qt/qt_translate.cpp" line="63"/>
        <source>Checking %1...</source>
        <translation>Prüfe %1 ...</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="30"/>
        <source>The main window is asking a timeserver; checks can start when it has its answer.</source>
        <translation>Das Hauptfenster fragt gerade einen Zeitserver; Prüfungen können beginnen, sobald es seine Antwort hat.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="33"/>
        <location filename="../platform/qt/qt_translate.cpp" line="37"/>
        <source>The system&apos;s automatic time could not be switched: %1</source>
        <translation>Die automatische Zeit des Systems konnte nicht umgeschaltet werden: %1</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="45"/>
        <source>sends &amp;UTC</source>
        <translation>sendet &amp;UTC</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="47"/>
        <source>se&amp;nds UTC</source>
        <translation>se&amp;ndet UTC</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="68"/>
        <source>E&amp;xtra trusted certificates (PEM)</source>
        <translation>Zusätzli&amp;ch vertraute Zertifikate</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="70"/>
        <source>Extra trusted certificates (PE&amp;M)</source>
        <translation>Zusätzlich vertraute Zertifi&amp;kate</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="71"/>
        <source>Browse…</source>
        <translation>Durchsuchen…</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="73"/>
        <source>Certificates to trust besides the system&apos;s</source>
        <translation>Zertifikate, denen zusätzlich zu denen des Systems vertraut wird</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="74"/>
        <source>PEM certificates</source>
        <translation>PEM-Zertifikate</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="128"/>
        <source>Configuration</source>
        <translation>Konfiguration</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="153"/>
        <source>&amp;Primary Timeserver</source>
        <translation>&amp;Primärer Zeitserver</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="156"/>
        <source>O&amp;ffset</source>
        <translation>&amp;Versatz</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="159"/>
        <source>&amp;Timeout</source>
        <translation>&amp;Zeitlimit</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="162"/>
        <source>&amp;Backup Timeserver</source>
        <translation>&amp;Ersatz-Zeitserver</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="165"/>
        <source>Offs&amp;et</source>
        <translation>Versa&amp;tz</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="169"/>
        <source>&amp;Interval (Server mode)</source>
        <translation>&amp;Intervall (Servermodus)</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="174"/>
        <source>&amp;Get time by</source>
        <translation>Abfra&amp;ge über</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="177"/>
        <source>Get time b&amp;y</source>
        <translation>Ab&amp;frage über</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="180"/>
        <source>&amp;List of public Timerservers</source>
        <translation>&amp;Liste öffentlicher Zeitserver</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="200"/>
        <source>Start with the &amp;desktop (resident, minimised)</source>
        <translation>Mit dem &amp;Desktop starten (dauerhaft, minimiert)</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="203"/>
        <source>Let Tempikon &amp;keep the clock (turn the system&apos;s automatic time off)</source>
        <translation>Tempikon die Uhr überlassen (auto&amp;matische Zeit des Systems ausschalten)</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="207"/>
        <source>Check &amp;all</source>
        <translation>&amp;Alle prüfen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="209"/>
        <source>Check &amp;server</source>
        <translation>&amp;Server prüfen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="211"/>
        <source>Abo&amp;rt</source>
        <translation>P&amp;rüfung stoppen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="215"/>
        <source>&amp;Cancel</source>
        <translation>A&amp;bbrechen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="217"/>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="233"/>
        <source>Use as &amp;backup timeserver</source>
        <translation>Als &amp;Ersatz-Zeitserver verwenden</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="505"/>
        <source>the entry names no server</source>
        <translation>der Eintrag nennt keinen Server</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="157"/>
        <location filename="../settings_dialog/config_dialog.cpp" line="166"/>
        <source>Hours</source>
        <translation>Std.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="160"/>
        <source>Seconds</source>
        <translation>Sek.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="170"/>
        <source>Minutes</source>
        <translation>Min.</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="213"/>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="229"/>
        <source>&amp;Set Server</source>
        <translation>&amp;Server setzen</translation>
    </message>
    <message>
        <location filename="../settings_dialog/config_dialog.cpp" line="231"/>
        <source>Use as &amp;primary timeserver</source>
        <translation>Als &amp;primären Zeitserver verwenden</translation>
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
        <location filename="../settings_dialog/field_rules.h" line="24"/>
        <source>A check is running: Abort stops it.</source>
        <translation>Eine Prüfung läuft: „Prüfung stoppen“ beendet sie.</translation>
    </message>
    <message>
        <location filename="../about/about.cpp" line="46"/>
        <source>This is freeware.</source>
        <translation>Dies ist Freeware.</translation>
    </message>
    <message>
        <location filename="../about/about.cpp" line="49"/>
        <source>Visit us at</source>
        <translation>Webseite:</translation>
    </message>
    <message>
        <location filename="../about/about.cpp" line="54"/>
        <source>Send mail to</source>
        <translation>E-Mail an:</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="24"/>
        <source>%1 slewed %2 ms</source>
        <translation>%1, um %2 ms allmählich angeglichen</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="25"/>
        <source>%1 slewed %2 µs</source>
        <translation>%1, um %2 µs allmählich angeglichen</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="26"/>
        <source>Time set to %1 d=%2s</source>
        <translation>Zeit gestellt auf %1 d=%2s</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="27"/>
        <source>Couldn&apos;t set system clock: %1</source>
        <translation>Systemuhr nicht gestellt: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="28"/>
        <source>%1 (Backup)</source>
        <translation>%1 (Ersatz)</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="38"/>
        <source>WARNING: The selected server &apos;%1&apos; didn&apos;t answer within the selected timeout. Do you want to use this server anyway?</source>
        <translation>WARNUNG: Der gewählte Server „%1“ hat innerhalb des Zeitlimits nicht geantwortet. Diesen Server trotzdem verwenden?</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="41"/>
        <source>The settings could not be saved: %1</source>
        <translation>Die Einstellungen konnten nicht gespeichert werden: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="42"/>
        <source>The autostart entry could not be changed: %1</source>
        <translation>Der Autostart-Eintrag konnte nicht geändert werden: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="43"/>
        <source>Nothing on this system could open
%1</source>
        <translation>Kein Programm auf diesem System kann diese Adresse öffnen:
%1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="44"/>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="65"/>
        <source>the server&apos;s certificate is not trusted: %1, issued by %2</source>
        <translation>dem Zertifikat des Servers wird nicht vertraut: %1, ausgestellt von %2</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="66"/>
        <source>the server&apos;s certificate is for %1, not %2</source>
        <translation>das Zertifikat des Servers gilt für %1, nicht für %2</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="67"/>
        <source>the server&apos;s certificate is out of its dates: %1</source>
        <translation>das Zertifikat des Servers ist außerhalb seiner Gültigkeit: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="68"/>
        <source>the server&apos;s certificate cannot be checked: %1</source>
        <translation>das Zertifikat des Servers kann nicht geprüft werden: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="69"/>
        <source>no secure connection to the key server within %1 s</source>
        <translation>keine sichere Verbindung zum Schlüsselserver innerhalb von %1 s</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="70"/>
        <source>no keys from the key server within %1 s</source>
        <translation>keine Schlüssel vom Schlüsselserver innerhalb von %1 s</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="71"/>
        <source>the server refused: %1</source>
        <translation>der Server lehnte ab: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="72"/>
        <source>the server does not speak %1</source>
        <translation>der Server spricht kein %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="73"/>
        <source>the key server warns: %1</source>
        <translation>der Schlüsselserver warnt: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="74"/>
        <source>the answer is malformed: %1</source>
        <translation>die Antwort ist fehlerhaft: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="75"/>
        <source>the file of trusted certificates %1 holds no certificate</source>
        <translation>die Datei vertrauenswürdiger Zertifikate %1 enthält kein Zertifikat</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="76"/>
        <source>cannot read the trusted certificates %1: %2</source>
        <translation>die vertrauenswürdigen Zertifikate %1 sind nicht lesbar: %2</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="79"/>
        <source>%1 authenticated by %2</source>
        <translation>%1 beglaubigt von %2</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="88"/>
        <source>The settings could not be saved.</source>
        <translation>Die Einstellungen konnten nicht gespeichert werden.</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="89"/>
        <source>The autostart entry could not be changed.</source>
        <translation>Der Autostart-Eintrag konnte nicht geändert werden.</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="90"/>
        <source>no home folder</source>
        <translation>kein Home-Ordner</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="91"/>
        <source>unknown error</source>
        <translation>unbekannter Fehler</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="92"/>
        <source>automatic time synchronisation is on</source>
        <translation>die automatische Zeitsynchronisation ist eingeschaltet</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="93"/>
        <source>not authorised</source>
        <translation>nicht berechtigt</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="94"/>
        <source>no time service on this system</source>
        <translation>kein Zeitdienst auf diesem System</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="95"/>
        <source>the time service did not answer</source>
        <translation>der Zeitdienst hat nicht geantwortet</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="97"/>
        <source>the key server closed the connection</source>
        <translation>der Schlüsselserver hat die Verbindung geschlossen</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="98"/>
        <source>the key server closed the connection before its answer was whole</source>
        <translation>der Schlüsselserver hat die Verbindung vor dem Ende seiner Antwort geschlossen</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="100"/>
        <source>the key request could not be sent</source>
        <translation>die Schlüsselanfrage konnte nicht gesendet werden</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="101"/>
        <source>the key answer could not be read</source>
        <translation>die Schlüsselantwort konnte nicht gelesen werden</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="102"/>
        <source>no keys could be taken from the TLS session</source>
        <translation>aus der TLS-Sitzung ließen sich keine Schlüssel gewinnen</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="103"/>
        <source>the server sent no cookies</source>
        <translation>der Server hat keine Cookies gesendet</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="104"/>
        <source>the server does not offer NTPv4</source>
        <translation>der Server bietet kein NTPv4 an</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="105"/>
        <source>the server does not offer AES-SIV-CMAC-256</source>
        <translation>der Server bietet kein AES-SIV-CMAC-256 an</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="106"/>
        <source>the server sent no certificate</source>
        <translation>der Server hat kein Zertifikat gesendet</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="107"/>
        <source>the reply&apos;s extension fields are malformed</source>
        <translation>die Erweiterungsfelder der Antwort sind fehlerhaft</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="45"/>
        <source>Cannot read the settings file %1: %2</source>
        <translation>Die Einstellungsdatei %1 ist nicht lesbar: %2</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="23"/>
        <source>%1, authenticated (NTS)</source>
        <translation>%1, beglaubigt (NTS)</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="56"/>
        <source>no answer within %1 s</source>
        <translation>keine Antwort innerhalb von %1 s</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="57"/>
        <source>the reply held no time: %1</source>
        <translation>die Antwort enthielt keine Uhrzeit: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="58"/>
        <source>the reply ended early: %1</source>
        <translation>die Antwort endete vorzeitig: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="59"/>
        <source>the time was not a valid time of day: %1</source>
        <translation>die Zeit war keine gültige Uhrzeit: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="60"/>
        <source>connection failed: %1</source>
        <translation>Verbindung fehlgeschlagen: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="61"/>
        <source>authentication failed: %1</source>
        <translation>Beglaubigung fehlgeschlagen: %1</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="78"/>
        <source>%1: authenticated by %2</source>
        <translation>%1: beglaubigt von %2</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_translate.cpp" line="81"/>
        <source>not permitted (run as root, give the program CAP_SYS_TIME, or use the system&apos;s time service; see man tempikon); kernel: %1; time service: %2</source>
        <translation>nicht erlaubt (als root starten, dem Programm CAP_SYS_TIME geben oder den Zeitdienst des Systems verwenden; siehe man tempikon); Kernel: %1; Zeitdienst: %2</translation>
    </message>
    <message>
        <location filename="../core/query/failure.cpp" line="42"/>
        <source>the check was stopped</source>
        <translation>die Prüfung wurde gestoppt</translation>
    </message>
    <message>
        <location filename="../core/query/failure.cpp" line="17"/>
        <location filename="../core/query/server_query.cpp" line="80"/>
        <source>host not found</source>
        <translation>Host nicht gefunden</translation>
    </message>
    <message>
        <location filename="../core/query/failure.cpp" line="11"/>
        <source>connection refused</source>
        <translation>Verbindung abgelehnt</translation>
    </message>
    <message>
        <location filename="../core/query/failure.cpp" line="19"/>
        <source>connection reset</source>
        <translation>Verbindung zurückgesetzt</translation>
    </message>
    <message>
        <location filename="../core/query/failure.cpp" line="24"/>
        <source>connection failed</source>
        <translation>Verbindung fehlgeschlagen</translation>
    </message>
    <message>
        <location filename="../core/query/daytime_exchange.cpp" line="166"/>
        <source>the reply could not be read</source>
        <translation>die Antwort war nicht lesbar</translation>
    </message>
    <message>
        <location filename="../core/query/daytime_exchange.cpp" line="187"/>
        <source>the server closed the connection unanswered</source>
        <translation>der Server hat die Verbindung ohne Antwort geschlossen</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_settings_store.cpp" line="199"/>
        <source>it is a folder</source>
        <translation>es ist ein Ordner</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_settings_store.cpp" line="201"/>
        <source>not a regular file</source>
        <translation>keine reguläre Datei</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_settings_store.cpp" line="203"/>
        <source>too large</source>
        <translation>zu groß</translation>
    </message>
    <message>
        <location filename="../about/about.h" line="17"/>
        <source>© 2026 the Tempikon authors</source>
        <translation>© 2026 die Tempikon-Autoren</translation>
    </message>
    <message>
        <location filename="../app/command_line.cpp" line="24"/>
        <source>Usage: tempikon [/RUNONCE | /SERVER | /QUERY] [/MIN]
       tempikon --help | --version

Sets the computer&apos;s clock from a time server, asking the backup server when
the primary gives no time. Each server speaks its own protocol:
  Daytime  (RFC 867, TCP port 13) a time of day in whole seconds; the date
           stays unless the time lies across midnight
  NTP      (RFC 5905, UDP port 123) the full UTC date and time to the
           millisecond: a clock on any date is set to it
  NTS      (RFC 8915, TCP port 4460, then NTP) NTP whose answers are
           authenticated: the server&apos;s certificate proves who it is
A server is host, host:port, [IPv6 address]:port or a bare IPv6 address.

Without a switch the main window opens for configuration and &quot;Set time&quot;.
Switches count anywhere on the command line, in any case; /RUNONCE wins over
/QUERY, and /QUERY over /SERVER.
  /RUNONCE     set the clock once, show the result for five seconds, end
  /SERVER      set the clock now and then every configured number of minutes,
               with an icon in the desktop&apos;s tray where there is one
  /QUERY       ask the servers and print what they say; never set the clock
               (needs no display and no right to set the clock)
  /MIN         start with the main window minimised (with /SERVER and a tray:
               the icon alone); /SERVER /MIN is how the configuration&apos;s
               &quot;Start with the desktop&quot; starts it at login
  -h, --help, /?  print this help and end
  --version    print the version and end

/QUERY prints one line for each server asked:
  &lt;server&gt;: &lt;time in reply&gt; -&gt; &lt;corrected time&gt; d=&lt;difference&gt;s rtt=&lt;round trip&gt;ms &lt;how&gt;
  &lt;server&gt;: NTP stratum=&lt;n&gt; offset=&lt;s&gt;s rtt=&lt;ms&gt;ms leap=&lt;n&gt; -&gt; &lt;date and time&gt; &lt;how&gt;
  &lt;server&gt;: NTS ... leap=&lt;n&gt; cert=&quot;&lt;certificate subject&gt;&quot; -&gt; &lt;date and time&gt; &lt;how&gt;
&lt;how&gt; is step, or slew for a correction under 0.4 s (Step=always: never).

Exit status:
  0  the clock was set (/QUERY: a server gave a valid time)
  1  no server gave a valid time
  2  no primary server configured, the settings cannot be read, or no display
     for the configuration window
  3  the system refused to set the clock

Settings: the [CONFIG] section of ~/.config/Tempikon/Tempikon.conf
(${XDG_CONFIG_HOME}/Tempikon/Tempikon.conf when that is set; on Windows the
registry key HKEY_CURRENT_USER\Software\Tempikon\Tempikon\CONFIG), keys Server,
Server2, Protocol, Protocol2 (Daytime, NTP or NTS), Offset, Offset2 (hours),
Zone, Zone2 (UTC: a Daytime server sends UTC), Timeout (seconds, each request),
Interval (minutes), Step (auto, or always to step every correction) and
TrustedCertificates, TrustedCertificates2 (NTS: a PEM file of certificates
trusted for that server besides the system&apos;s).
Failures are explained on standard error. See man tempikon.
</source>
        <translation>Aufruf: tempikon [/RUNONCE | /SERVER | /QUERY] [/MIN]
        tempikon --help | --version

Stellt die Uhr des Computers nach einem Zeitserver und fragt den
Ersatz-Zeitserver, wenn der primäre keine Zeit liefert. Jeder Server spricht
sein eigenes Protokoll:
  Daytime  (RFC 867, TCP-Port 13) eine Uhrzeit in ganzen Sekunden; das Datum
           bleibt, außer die Zeit liegt jenseits von Mitternacht
  NTP      (RFC 5905, UDP-Port 123) Datum und Uhrzeit in UTC auf die
           Millisekunde: eine Uhr mit beliebigem Datum wird darauf gestellt
  NTS      (RFC 8915, TCP-Port 4460, dann NTP) NTP mit beglaubigten Antworten:
           das Zertifikat des Servers beweist, wer er ist
Ein Server ist Host, Host:Port, [IPv6-Adresse]:Port oder eine IPv6-Adresse.

Ohne Schalter öffnet sich das Hauptfenster für die Konfiguration und „Zeit
stellen“. Schalter gelten überall in der Befehlszeile, in beliebiger Groß- und
Kleinschreibung; /RUNONCE hat Vorrang vor /QUERY, /QUERY vor /SERVER.
  /RUNONCE     die Uhr einmal stellen, das Ergebnis fünf Sekunden zeigen, enden
  /SERVER      die Uhr jetzt und dann alle eingestellten Minuten stellen,
               mit einem Symbol im Infobereich des Desktops, wo es einen gibt
  /QUERY       die Server fragen und ausgeben, was sie sagen; die Uhr nie stellen
               (braucht keine Anzeige und kein Recht, die Uhr zu stellen)
  /MIN         mit minimiertem Hauptfenster starten (mit /SERVER und
               Infobereich: nur das Symbol); mit /SERVER /MIN startet
               „Mit dem Desktop starten“ der Konfiguration es bei der Anmeldung
  -h, --help, /?  diese Hilfe ausgeben und enden
  --version    die Version ausgeben und enden

/QUERY gibt für jeden gefragten Server eine Zeile aus (auf Englisch):
  &lt;Server&gt;: &lt;Zeit der Antwort&gt; -&gt; &lt;korrigierte Zeit&gt; d=&lt;Differenz&gt;s rtt=&lt;Umlaufzeit&gt;ms &lt;wie&gt;
  &lt;Server&gt;: NTP stratum=&lt;n&gt; offset=&lt;s&gt;s rtt=&lt;ms&gt;ms leap=&lt;n&gt; -&gt; &lt;Datum und Zeit&gt; &lt;wie&gt;
  &lt;Server&gt;: NTS ... leap=&lt;n&gt; cert=&quot;&lt;Zertifikatsinhaber&gt;&quot; -&gt; &lt;Datum und Zeit&gt; &lt;wie&gt;
&lt;wie&gt; ist step (springen) oder slew (allmählich angleichen, für weniger als 0,4 s;
nie mit Step=always).

Rückgabewert:
  0  die Uhr wurde gestellt (/QUERY: ein Server lieferte eine gültige Zeit)
  1  kein Server lieferte eine gültige Zeit
  2  kein primärer Zeitserver konfiguriert, die Einstellungen sind nicht lesbar,
     oder keine Anzeige für das Konfigurationsfenster
  3  das System hat das Stellen der Uhr verweigert

Einstellungen: der Abschnitt [CONFIG] von ~/.config/Tempikon/Tempikon.conf
(${XDG_CONFIG_HOME}/Tempikon/Tempikon.conf, wenn das gesetzt ist; unter Windows
der Registrierungsschlüssel HKEY_CURRENT_USER\Software\Tempikon\Tempikon\CONFIG),
Schlüssel Server, Server2, Protocol, Protocol2 (Daytime, NTP oder NTS), Offset,
Offset2 (Stunden), Zone, Zone2 (UTC: ein Daytime-Server sendet UTC), Timeout
(Sekunden, je Anfrage), Interval (Minuten), Step (auto, oder always: jede
Korrektur springt) und TrustedCertificates, TrustedCertificates2 (NTS: eine
PEM-Datei mit Zertifikaten, denen für diesen Server zusätzlich zu denen des
Systems vertraut wird).
Fehler werden auf der Standardfehlerausgabe erklärt. Siehe man tempikon.
</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="20"/>
        <source>Asking the timeserver...</source>
        <translation>Frage den Zeitserver...</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="21"/>
        <source>The clock could not be set</source>
        <translation>Die Uhr konnte nicht gestellt werden</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="22"/>
        <source>The clock is set again</source>
        <translation>Die Uhr wird wieder gestellt</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="223"/>
        <source>Show &amp;window</source>
        <translation>&amp;Fenster zeigen</translation>
    </message>
    <message>
        <location filename="../app/main_window.cpp" line="226"/>
        <source>&amp;Quit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <location filename="../app/tray_status.cpp" line="12"/>
        <location filename="../platform/qt/qt_translate.cpp" line="30"/>
        <source>Last set: %1 from %2</source>
        <translation>Zuletzt gestellt: %1 von %2</translation>
    </message>
    <message>
        <location filename="../app/tray_status.cpp" line="11"/>
        <location filename="../platform/qt/qt_translate.cpp" line="31"/>
        <source>Last set: %1</source>
        <translation>Zuletzt gestellt: %1</translation>
    </message>
    <message>
        <location filename="../app/tray_status.cpp" line="13"/>
        <location filename="../platform/qt/qt_translate.cpp" line="32"/>
        <source>Next setting: %1</source>
        <translation>Nächstes Stellen: %1</translation>
    </message>
    <message>
        <location filename="../core/history.cpp" line="280"/>
        <location filename="../platform/qt/qt_translate.cpp" line="51"/>
        <source>%1: failed, %2</source>
        <translation>%1: fehlgeschlagen, %2</translation>
    </message>
    <message>
        <location filename="../core/history.cpp" line="284"/>
        <location filename="../platform/qt/qt_translate.cpp" line="52"/>
        <source>%1: slewed, round trip %2</source>
        <translation>%1: angeglichen, Umlaufzeit %2</translation>
    </message>
    <message>
        <location filename="../core/history.cpp" line="286"/>
        <location filename="../platform/qt/qt_translate.cpp" line="53"/>
        <source>%1: stepped, round trip %2</source>
        <translation>%1: gesprungen, Umlaufzeit %2</translation>
    </message>
    <message>
        <location filename="../core/history.cpp" line="287"/>
        <location filename="../platform/qt/qt_translate.cpp" line="54"/>
        <source>%1: not corrected, round trip %2</source>
        <translation>%1: nicht korrigiert, Umlaufzeit %2</translation>
    </message>
    <message>
        <location filename="../core/history.cpp" line="328"/>
        <location filename="../platform/qt/qt_translate.cpp" line="47"/>
        <source>This clock gains about %1 s a day (%2 ppm)</source>
        <translation>Diese Uhr geht am Tag etwa %1 s vor (%2 ppm)</translation>
    </message>
    <message>
        <location filename="../core/history.cpp" line="330"/>
        <location filename="../platform/qt/qt_translate.cpp" line="48"/>
        <source>This clock loses about %1 s a day (%2 ppm)</source>
        <translation>Diese Uhr geht am Tag etwa %1 s nach (%2 ppm)</translation>
    </message>
    <message>
        <location filename="../app/history_window.cpp" line="12"/>
        <source>Tempikon history</source>
        <translation>Tempikon-Verlauf</translation>
    </message>
    <message>
        <location filename="../app/history_window.cpp" line="13"/>
        <source>No settings recorded yet</source>
        <translation>Noch kein Stellen aufgezeichnet</translation>
    </message>
    <message>
        <location filename="../app/history_window.cpp" line="15"/>
        <source>Too few settings yet to tell how the clock drifts</source>
        <translation>Noch zu wenige Stellvorgänge, um den Gang der Uhr zu nennen</translation>
    </message>
    <message>
        <location filename="../app/history_window.cpp" line="17"/>
        <source>Point at a setting, or use the arrow keys, to see it in full</source>
        <translation>Zeigen Sie auf einen Stellvorgang oder wählen Sie ihn mit den Pfeiltasten, um ihn ganz zu sehen</translation>
    </message>
    <message>
        <location filename="../app/history_window.cpp" line="18"/>
        <location filename="../platform/qt/qt_translate.cpp" line="49"/>
        <source>The history cannot be read: %1</source>
        <translation>Der Verlauf kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <location filename="../app/history_window.cpp" line="33"/>
        <source>Last day</source>
        <translation>Letzter Tag</translation>
    </message>
    <message>
        <location filename="../app/history_window.cpp" line="34"/>
        <source>Last week</source>
        <translation>Letzte Woche</translation>
    </message>
    <message>
        <location filename="../app/history_window.cpp" line="35"/>
        <source>Everything</source>
        <translation>Alles</translation>
    </message>
    <message>
        <location filename="../app/history_window.cpp" line="37"/>
        <source>Open &amp;folder</source>
        <translation>&amp;Ordner öffnen</translation>
    </message>
    <message>
        <location filename="../core/history_plot.cpp" line="227"/>
        <source>Stepped</source>
        <translation>Sprung</translation>
    </message>
    <message>
        <location filename="../core/history_plot.cpp" line="228"/>
        <source>Slewed</source>
        <translation>Angleichung</translation>
    </message>
    <message>
        <location filename="../core/history_plot.cpp" line="229"/>
        <source>Failed</source>
        <translation>Fehlgeschlagen</translation>
    </message>
    <message>
        <location filename="../app/tray_status.cpp" line="15"/>
        <source>The system&apos;s automatic time also sets this clock</source>
        <translation>Auch die automatische Zeit des Systems stellt diese Uhr</translation>
    </message>
    <message>
        <location filename="../app/tray_status.cpp" line="16"/>
        <location filename="../platform/qt/qt_translate.cpp" line="35"/>
        <source>%1 also sets this clock</source>
        <translation>Auch %1 stellt diese Uhr</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_message_box.cpp" line="31"/>
        <source>&amp;Yes</source>
        <translation>&amp;Ja</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_message_box.cpp" line="32"/>
        <source>&amp;No</source>
        <translation>&amp;Nein</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_message_box.cpp" line="33"/>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <location filename="../platform/qt/qt_file_chooser.cpp" line="19"/>
        <source>All files</source>
        <translation>Alle Dateien</translation>
    </message>
</context>
</TS>
