<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AccountSettingsView</name>
    <message>
        <source>Account</source>
        <translation>Konto</translation>
    </message>
    <message>
        <source>Signed In</source>
        <translation>Angemeldet</translation>
    </message>
    <message>
        <source>Sign Out</source>
        <translation>Abmelden</translation>
    </message>
    <message>
        <source>Sign In</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>No keyring answered, so your sign-in is kept in Tellwind&apos;s settings file, readable only by you.</source>
        <translation>Kein Schlüsselbund hat geantwortet, daher liegt Ihre Anmeldung in Tellwinds Einstellungsdatei, die nur Sie lesen können.</translation>
    </message>
    <message>
        <source>Signed in to your speech server as</source>
        <translation>Bei Ihrem Spracherkennungsserver angemeldet als</translation>
    </message>
    <message>
        <source>An account on your speech server lets Tellwind use server recognition when the server asks who you are. On-device recognition needs no account.</source>
        <translation>Mit einem Konto auf Ihrem Spracherkennungsserver kann Tellwind die Erkennung auf dem Server nutzen, wenn der Server eine Anmeldung verlangt. Die Erkennung auf dem Gerät braucht kein Konto.</translation>
    </message>
    <message>
        <source>Signing in opens the server&apos;s sign-in page in your browser.</source>
        <translation>Zum Anmelden öffnet sich die Anmeldeseite des Servers in Ihrem Browser.</translation>
    </message>
</context>
<context>
    <name>AppDelegate</name>
    <message>
        <source>Click into your text first</source>
        <translation>Klicken Sie zuerst in Ihren Text</translation>
    </message>
    <message>
        <source>Tellwind&apos;s panel has the keyboard focus. Click into the application you are dictating into, or the words cannot reach it.</source>
        <translation>Das Tellwind-Fenster hat den Tastaturfokus. Klicken Sie in die Anwendung, in die Sie diktieren, sonst erreichen die Wörter sie nicht.</translation>
    </message>
</context>
<context>
    <name>AppState</name>
    <message>
        <source>Not everything you said was typed: another window had the keyboard focus.</source>
        <translation>Nicht alles Gesagte wurde getippt: Ein anderes Fenster hatte den Tastaturfokus.</translation>
    </message>
</context>
<context>
    <name>AppearanceSettingsView</name>
    <message>
        <source>Window</source>
        <translation>Fenster</translation>
    </message>
    <message>
        <source>Window Position</source>
        <translation>Fensterposition</translation>
    </message>
    <message>
        <source>Tellwind remembers where you place the floating window.</source>
        <translation>Tellwind merkt sich, wo Sie das schwebende Fenster ablegen.</translation>
    </message>
    <message>
        <source>Reset to Center</source>
        <translation>Zur Mitte zurücksetzen</translation>
    </message>
    <message>
        <source>Window position will reset to center on next launch.</source>
        <translation>Die Fensterposition wird beim nächsten Start auf die Mitte zurückgesetzt.</translation>
    </message>
</context>
<context>
    <name>AudioError</name>
    <message>
        <source>Failed to initialize audio engine</source>
        <translation>Die Audio-Engine konnte nicht gestartet werden</translation>
    </message>
    <message>
        <source>Audio input not available</source>
        <translation>Audioeingang nicht verfügbar</translation>
    </message>
    <message>
        <source>Failed to create audio format</source>
        <translation>Das Audioformat konnte nicht erstellt werden</translation>
    </message>
    <message>
        <source>Recording failed</source>
        <translation>Aufnahme fehlgeschlagen</translation>
    </message>
</context>
<context>
    <name>AudioRecordingService</name>
    <message>
        <source>Microphone Access Required</source>
        <translation>Mikrofonzugriff erforderlich</translation>
    </message>
    <message>
        <source>Tellwind needs microphone access to transcribe your speech.

To enable:
1. Open the Sound settings
2. Go to Input
3. Choose a microphone and turn it on (not muted)

If no microphone is listed, check that the sound server (PulseAudio or PipeWire) is running.</source>
        <translation>Tellwind braucht Zugriff auf das Mikrofon, um Ihre Sprache zu erkennen.

So geht’s:
1. Öffnen Sie die Klangeinstellungen
2. Wechseln Sie zu „Eingabe“
3. Wählen Sie ein Mikrofon und schalten Sie es ein (nicht stumm)

Wird kein Mikrofon angezeigt, prüfen Sie, ob der Tondienst (PulseAudio oder PipeWire) läuft.</translation>
    </message>
    <message>
        <source>Open Sound Settings</source>
        <translation>Klangeinstellungen öffnen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>AuthManager</name>
    <message>
        <source>Sign-in was not started from this computer</source>
        <translation>Die Anmeldung wurde nicht auf diesem Computer begonnen</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Dictate text into any application.</source>
        <translation>Text in jede Anwendung diktieren.</translation>
    </message>
    <message>
        <source>Show this help and exit.</source>
        <translation>Diese Hilfe zeigen und beenden.</translation>
    </message>
    <message>
        <source>Show the version and exit.</source>
        <translation>Die Version zeigen und beenden.</translation>
    </message>
    <message>
        <source>Start a dictation, or stop the one in progress.</source>
        <translation>Ein Diktat beginnen oder das laufende beenden.</translation>
    </message>
    <message>
        <source>Start a dictation.</source>
        <translation>Ein Diktat beginnen.</translation>
    </message>
    <message>
        <source>Stop the dictation in progress.</source>
        <translation>Das laufende Diktat beenden.</translation>
    </message>
    <message>
        <source>A tellwind:// link to open, as a sign-in hands it over.</source>
        <translation>Ein zu öffnender tellwind://-Link, wie ihn eine Anmeldung übergibt.</translation>
    </message>
    <message>
        <source>Try &apos;%1 --help&apos; for more information.</source>
        <translation>Mehr dazu mit „%1 --help“.</translation>
    </message>
    <message>
        <source>--toggle, --start and --stop exclude each other.</source>
        <translation>--toggle, --start und --stop schließen einander aus.</translation>
    </message>
    <message>
        <source>Not a link: %1</source>
        <translation>Kein Link: %1</translation>
    </message>
</context>
<context>
    <name>ContentView</name>
    <message>
        <source>Dictation panel</source>
        <translation>Diktierleiste</translation>
    </message>
</context>
<context>
    <name>ErrorReporter</name>
    <message>
        <source>Dictation problem</source>
        <translation>Problem beim Diktieren</translation>
    </message>
</context>
<context>
    <name>GeneralSettingsView</name>
    <message>
        <source>Tellwind will not launch at login</source>
        <translation>Tellwind startet nicht bei der Anmeldung</translation>
    </message>
    <message>
        <source>Tellwind will launch when you log in</source>
        <translation>Tellwind startet, wenn Sie sich anmelden</translation>
    </message>
    <message>
        <source>Requires approval in your desktop&apos;s settings</source>
        <translation>Muss in den Einstellungen Ihrer Arbeitsumgebung genehmigt werden</translation>
    </message>
    <message>
        <source>Service not found</source>
        <translation>Dienst nicht gefunden</translation>
    </message>
    <message>
        <source>Unknown status</source>
        <translation>Unbekannter Status</translation>
    </message>
    <message>
        <source>Startup</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Show icon in the system tray</source>
        <translation>Symbol im Systembereich der Kontrollleiste anzeigen</translation>
    </message>
    <message>
        <source>Typing</source>
        <translation>Tippen</translation>
    </message>
    <message>
        <source>Typing: %1</source>
        <translation>Tippen: %1</translation>
    </message>
    <message>
        <source>Speech</source>
        <translation>Spracherkennung</translation>
    </message>
    <message>
        <source>Server address</source>
        <translation>Serveradresse</translation>
    </message>
    <message>
        <source>Test</source>
        <translation>Testen</translation>
    </message>
    <message>
        <source>Microphone</source>
        <translation>Mikrofon</translation>
    </message>
    <message>
        <source>Automatic capitals</source>
        <translation>Automatische Großschreibung</translation>
    </message>
    <message>
        <source>Spoken punctuation</source>
        <translation>Gesprochene Satzzeichen</translation>
    </message>
    <message>
        <source>%1 Tellwind keeps using %2.</source>
        <translation>%1 Tellwind verwendet weiterhin %2.</translation>
    </message>
    <message>
        <source>Dictated text</source>
        <translation>Diktierter Text</translation>
    </message>
    <message>
        <source>Start Tellwind when you log in</source>
        <translation>Tellwind bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>System tray</source>
        <translation>Systembereich</translation>
    </message>
    <message>
        <source>Start dictation, show the panel and open these settings from the system tray.</source>
        <translation>Diktat starten, die Leiste anzeigen und diese Einstellungen öffnen – direkt aus dem Systembereich.</translation>
    </message>
</context>
<context>
    <name>GlobalHotkeyManager</name>
    <message>
        <source>Start or stop dictation</source>
        <translation>Diktat starten oder beenden</translation>
    </message>
    <message>
        <source>Asking your desktop to bind the shortcut…</source>
        <translation>Die Arbeitsumgebung wird gebeten, das Tastenkürzel einzurichten …</translation>
    </message>
    <message>
        <source>Your desktop watches this shortcut for Tellwind; you can change it in your desktop&apos;s keyboard settings.</source>
        <translation>Ihre Arbeitsumgebung überwacht dieses Tastenkürzel für Tellwind; Sie können es in den Tastatureinstellungen Ihrer Arbeitsumgebung ändern.</translation>
    </message>
    <message>
        <source>Your desktop did not take the shortcut for Tellwind. Bind the command &quot;tellwind --toggle&quot; to a key in your desktop&apos;s keyboard settings.</source>
        <translation>Ihre Arbeitsumgebung hat das Tastenkürzel für Tellwind nicht übernommen. Legen Sie den Befehl „tellwind --toggle“ in den Tastatureinstellungen Ihrer Arbeitsumgebung auf eine Taste.</translation>
    </message>
</context>
<context>
    <name>HotkeySettingsView</name>
    <message>
        <source>Shortcut</source>
        <translation>Tastenkürzel</translation>
    </message>
    <message>
        <source>Press the new shortcut…</source>
        <translation>Drücken Sie das neue Tastenkürzel …</translation>
    </message>
    <message>
        <source>Hold Ctrl, Alt or Super and press a key. Esc cancels.</source>
        <translation>Halten Sie Strg, Alt oder Super gedrückt und drücken Sie eine Taste. Esc bricht ab.</translation>
    </message>
    <message>
        <source>Shift + R also types an R into the application you are using, and every capital R you type anywhere starts or stops dictation. A shortcut with Ctrl, Alt or Super reaches no application.</source>
        <translation>Umschalt + R tippt außerdem ein R in die Anwendung, die Sie gerade verwenden, und jedes große R, das Sie irgendwo tippen, startet oder beendet das Diktat. Ein Tastenkürzel mit Strg, Alt oder Super erreicht keine Anwendung.</translation>
    </message>
    <message>
        <source>Start and stop dictation with a shortcut</source>
        <translation>Diktat mit einem Tastenkürzel starten und beenden</translation>
    </message>
    <message>
        <source>Shortcut:</source>
        <translation>Tastenkürzel:</translation>
    </message>
    <message>
        <source>Change Shortcut…</source>
        <translation>Tastenkürzel ändern …</translation>
    </message>
    <message>
        <source>Restore Default</source>
        <translation>Standard wiederherstellen</translation>
    </message>
    <message>
        <source>This shortcut works in every application and reaches none of them. On Wayland your desktop binds it where it offers a shortcut service; otherwise bind the command &quot;tellwind --toggle&quot; in your desktop&apos;s keyboard settings.</source>
        <translation>Dieses Tastenkürzel wirkt in jeder Anwendung, ohne dort etwas auszulösen. Unter Wayland richtet Ihre Arbeitsumgebung es ein, wenn sie einen Dienst für Tastenkürzel anbietet; sonst legen Sie in den Tastatureinstellungen Ihrer Arbeitsumgebung ein Kürzel für den Befehl „tellwind --toggle“ an.</translation>
    </message>
</context>
<context>
    <name>KeyboardChoice</name>
    <message>
        <source>Wayland virtual keyboard</source>
        <translation>Virtuelle Wayland-Tastatur</translation>
    </message>
    <message>
        <source>RemoteDesktop portal</source>
        <translation>RemoteDesktop-Portal</translation>
    </message>
    <message>
        <source>X11 (XTEST)</source>
        <translation>X11 (XTEST)</translation>
    </message>
    <message>
        <source>none</source>
        <translation>nicht möglich</translation>
    </message>
    <message>
        <source>Tellwind types only into X11 applications</source>
        <translation>Tellwind tippt nur in X11-Anwendungen</translation>
    </message>
    <message>
        <source>This desktop offers Tellwind neither a virtual keyboard nor a remote desktop session, so dictated text reaches only applications that run through Xwayland.</source>
        <translation>Diese Arbeitsumgebung bietet Tellwind weder eine virtuelle Tastatur noch eine Remote-Desktop-Sitzung an, daher erreicht diktierter Text nur Anwendungen, die über Xwayland laufen.</translation>
    </message>
    <message>
        <source>Tellwind cannot type</source>
        <translation>Tellwind kann nicht tippen</translation>
    </message>
    <message>
        <source>This desktop offers Tellwind no way to type into other applications: no virtual keyboard, no remote desktop portal and no X server.</source>
        <translation>Diese Arbeitsumgebung bietet Tellwind keine Möglichkeit, in andere Anwendungen zu tippen: Es gibt keine virtuelle Tastatur, kein Remote-Desktop-Portal und keinen X-Server.</translation>
    </message>
    <message>
        <source>There is no graphical session (neither WAYLAND_DISPLAY nor DISPLAY is set).</source>
        <translation>Es gibt keine grafische Sitzung (weder WAYLAND_DISPLAY noch DISPLAY ist gesetzt).</translation>
    </message>
</context>
<context>
    <name>LanguageAvailability</name>
    <message>
        <source>Server unreachable</source>
        <translation>Server nicht erreichbar</translation>
    </message>
    <message>
        <source>Not available</source>
        <translation>Nicht verfügbar</translation>
    </message>
    <message>
        <source>No speech model for this language is installed on this computer.</source>
        <translation>Auf diesem Computer ist kein Sprachmodell für diese Sprache installiert.</translation>
    </message>
    <message>
        <source>The speech server cannot be reached: %1</source>
        <translation>Der Spracherkennungsserver ist nicht erreichbar: %1</translation>
    </message>
    <message>
        <source>You chose to recognize speech on the server.</source>
        <translation>Sie haben die Erkennung auf dem Server gewählt.</translation>
    </message>
    <message>
        <source>The speech server does not recognize this language.</source>
        <translation>Der Spracherkennungsserver erkennt diese Sprache nicht.</translation>
    </message>
</context>
<context>
    <name>LanguageFlagButton</name>
    <message>
        <source>Select language: %1</source>
        <translation>Sprache wählen: %1</translation>
    </message>
    <message>
        <source>Language: %1</source>
        <translation>Sprache: %1</translation>
    </message>
</context>
<context>
    <name>LanguageNames</name>
    <message>
        <source>English (US)</source>
        <translation>Englisch (USA)</translation>
    </message>
    <message>
        <source>English (UK)</source>
        <translation>Englisch (Vereinigtes Königreich)</translation>
    </message>
    <message>
        <source>English (Australia)</source>
        <translation>Englisch (Australien)</translation>
    </message>
    <message>
        <source>English (Canada)</source>
        <translation>Englisch (Kanada)</translation>
    </message>
    <message>
        <source>English (India)</source>
        <translation>Englisch (Indien)</translation>
    </message>
    <message>
        <source>Spanish (Spain)</source>
        <translation>Spanisch (Spanien)</translation>
    </message>
    <message>
        <source>Spanish (Mexico)</source>
        <translation>Spanisch (Mexiko)</translation>
    </message>
    <message>
        <source>Spanish (US)</source>
        <translation>Spanisch (USA)</translation>
    </message>
    <message>
        <source>French (France)</source>
        <translation>Französisch (Frankreich)</translation>
    </message>
    <message>
        <source>French (Canada)</source>
        <translation>Französisch (Kanada)</translation>
    </message>
    <message>
        <source>German</source>
        <translation>Deutsch</translation>
    </message>
    <message>
        <source>Italian</source>
        <translation>Italienisch</translation>
    </message>
    <message>
        <source>Portuguese (Brazil)</source>
        <translation>Portugiesisch (Brasilien)</translation>
    </message>
    <message>
        <source>Portuguese (Portugal)</source>
        <translation>Portugiesisch (Portugal)</translation>
    </message>
    <message>
        <source>Chinese (Simplified)</source>
        <translation>Chinesisch (vereinfacht)</translation>
    </message>
    <message>
        <source>Chinese (Traditional)</source>
        <translation>Chinesisch (traditionell)</translation>
    </message>
    <message>
        <source>Chinese (Hong Kong)</source>
        <translation>Chinesisch (Hongkong)</translation>
    </message>
    <message>
        <source>Japanese</source>
        <translation>Japanisch</translation>
    </message>
    <message>
        <source>Korean</source>
        <translation>Koreanisch</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>Russisch</translation>
    </message>
    <message>
        <source>Arabic (Saudi)</source>
        <translation>Arabisch (Saudi-Arabien)</translation>
    </message>
    <message>
        <source>Arabic (UAE)</source>
        <translation>Arabisch (VAE)</translation>
    </message>
    <message>
        <source>Hindi</source>
        <translation>Hindi</translation>
    </message>
    <message>
        <source>Dutch</source>
        <translation>Niederländisch</translation>
    </message>
    <message>
        <source>Dutch (Belgium)</source>
        <translation>Niederländisch (Belgien)</translation>
    </message>
    <message>
        <source>Polish</source>
        <translation>Polnisch</translation>
    </message>
    <message>
        <source>Swedish</source>
        <translation>Schwedisch</translation>
    </message>
    <message>
        <source>Danish</source>
        <translation>Dänisch</translation>
    </message>
    <message>
        <source>Norwegian</source>
        <translation>Norwegisch</translation>
    </message>
    <message>
        <source>Finnish</source>
        <translation>Finnisch</translation>
    </message>
    <message>
        <source>Turkish</source>
        <translation>Türkisch</translation>
    </message>
    <message>
        <source>Thai</source>
        <translation>Thailändisch</translation>
    </message>
    <message>
        <source>Vietnamese</source>
        <translation>Vietnamesisch</translation>
    </message>
    <message>
        <source>Indonesian</source>
        <translation>Indonesisch</translation>
    </message>
    <message>
        <source>Malay</source>
        <translation>Malaiisch</translation>
    </message>
    <message>
        <source>Hebrew</source>
        <translation>Hebräisch</translation>
    </message>
    <message>
        <source>Albanian</source>
        <translation>Albanisch</translation>
    </message>
    <message>
        <source>Croatian</source>
        <translation>Kroatisch</translation>
    </message>
    <message>
        <source>Serbian</source>
        <translation>Serbisch</translation>
    </message>
    <message>
        <source>Slovenian</source>
        <translation>Slowenisch</translation>
    </message>
    <message>
        <source>Bosnian</source>
        <translation>Bosnisch</translation>
    </message>
    <message>
        <source>Macedonian</source>
        <translation>Mazedonisch</translation>
    </message>
    <message>
        <source>Montenegrin</source>
        <translation>Montenegrinisch</translation>
    </message>
    <message>
        <source>Ukrainian</source>
        <translation>Ukrainisch</translation>
    </message>
    <message>
        <source>Greek</source>
        <translation>Griechisch</translation>
    </message>
    <message>
        <source>Czech</source>
        <translation>Tschechisch</translation>
    </message>
    <message>
        <source>Romanian</source>
        <translation>Rumänisch</translation>
    </message>
    <message>
        <source>Hungarian</source>
        <translation>Ungarisch</translation>
    </message>
    <message>
        <source>Slovak</source>
        <translation>Slowakisch</translation>
    </message>
    <message>
        <source>Bulgarian</source>
        <translation>Bulgarisch</translation>
    </message>
    <message>
        <source>Latvian</source>
        <translation>Lettisch</translation>
    </message>
    <message>
        <source>Lithuanian</source>
        <translation>Litauisch</translation>
    </message>
    <message>
        <source>Estonian</source>
        <translation>Estnisch</translation>
    </message>
    <message>
        <source>Belarusian</source>
        <translation>Belarussisch</translation>
    </message>
    <message>
        <source>Catalan</source>
        <translation>Katalanisch</translation>
    </message>
    <message>
        <source>Basque</source>
        <translation>Baskisch</translation>
    </message>
    <message>
        <source>Galician</source>
        <translation>Galicisch</translation>
    </message>
    <message>
        <source>Irish</source>
        <translation>Irisch</translation>
    </message>
    <message>
        <source>Welsh</source>
        <translation>Walisisch</translation>
    </message>
    <message>
        <source>Icelandic</source>
        <translation>Isländisch</translation>
    </message>
    <message>
        <source>Maltese</source>
        <translation>Maltesisch</translation>
    </message>
    <message>
        <source>Luxembourgish</source>
        <translation>Luxemburgisch</translation>
    </message>
    <message>
        <source>Filipino</source>
        <translation>Filipino</translation>
    </message>
    <message>
        <source>Bengali</source>
        <translation>Bengalisch</translation>
    </message>
    <message>
        <source>Tamil</source>
        <translation>Tamil</translation>
    </message>
    <message>
        <source>Telugu</source>
        <translation>Telugu</translation>
    </message>
    <message>
        <source>Marathi</source>
        <translation>Marathi</translation>
    </message>
    <message>
        <source>Gujarati</source>
        <translation>Gujarati</translation>
    </message>
    <message>
        <source>Kannada</source>
        <translation>Kannada</translation>
    </message>
    <message>
        <source>Malayalam</source>
        <translation>Malayalam</translation>
    </message>
    <message>
        <source>Punjabi</source>
        <translation>Panjabi</translation>
    </message>
    <message>
        <source>Urdu</source>
        <translation>Urdu</translation>
    </message>
    <message>
        <source>Nepali</source>
        <translation>Nepalesisch</translation>
    </message>
    <message>
        <source>Sinhala</source>
        <translation>Singhalesisch</translation>
    </message>
    <message>
        <source>Khmer</source>
        <translation>Khmer</translation>
    </message>
    <message>
        <source>Lao</source>
        <translation>Laotisch</translation>
    </message>
    <message>
        <source>Burmese</source>
        <translation>Birmanisch</translation>
    </message>
    <message>
        <source>Mongolian</source>
        <translation>Mongolisch</translation>
    </message>
    <message>
        <source>Kazakh</source>
        <translation>Kasachisch</translation>
    </message>
    <message>
        <source>Uzbek</source>
        <translation>Usbekisch</translation>
    </message>
    <message>
        <source>Azerbaijani</source>
        <translation>Aserbaidschanisch</translation>
    </message>
    <message>
        <source>Georgian</source>
        <translation>Georgisch</translation>
    </message>
    <message>
        <source>Armenian</source>
        <translation>Armenisch</translation>
    </message>
    <message>
        <source>Swahili</source>
        <translation>Suaheli</translation>
    </message>
    <message>
        <source>Afrikaans</source>
        <translation>Afrikaans</translation>
    </message>
    <message>
        <source>Zulu</source>
        <translation>Zulu</translation>
    </message>
    <message>
        <source>Amharic</source>
        <translation>Amharisch</translation>
    </message>
    <message>
        <source>Somali</source>
        <translation>Somali</translation>
    </message>
    <message>
        <source>Hausa</source>
        <translation>Hausa</translation>
    </message>
    <message>
        <source>Yoruba</source>
        <translation>Yoruba</translation>
    </message>
    <message>
        <source>Igbo</source>
        <translation>Igbo</translation>
    </message>
    <message>
        <source>Persian</source>
        <translation>Persisch</translation>
    </message>
    <message>
        <source>Pashto</source>
        <translation>Paschtu</translation>
    </message>
    <message>
        <source>Kurdish</source>
        <translation>Kurdisch</translation>
    </message>
</context>
<context>
    <name>LanguagePickerView</name>
    <message>
        <source>Search languages</source>
        <translation>Sprachen suchen</translation>
    </message>
    <message>
        <source>Clear search</source>
        <translation>Suche leeren</translation>
    </message>
    <message>
        <source>Languages</source>
        <translation>Sprachen</translation>
    </message>
    <message>
        <source>Search by name or code…</source>
        <translation>Nach Name oder Kürzel suchen …</translation>
    </message>
    <message>
        <source>No language matches</source>
        <translation>Keine passende Sprache</translation>
    </message>
</context>
<context>
    <name>LanguagePickerWindow</name>
    <message>
        <source>Tellwind Languages</source>
        <translation>Tellwind-Sprachen</translation>
    </message>
</context>
<context>
    <name>LanguageRow</name>
    <message>
        <source>Cloud</source>
        <translation>Cloud</translation>
    </message>
    <message>
        <source>%1, Cloud</source>
        <translation>%1, Cloud</translation>
    </message>
</context>
<context>
    <name>LaunchAtLoginManager</name>
    <message>
        <source>Only an installed Tellwind can start at login (from /usr, /opt or ~/.local); this one runs from %1.</source>
        <translation>Nur ein installiertes Tellwind kann bei der Anmeldung starten (aus /usr, /opt oder ~/.local); dieses läuft aus %1.</translation>
    </message>
</context>
<context>
    <name>MenuBarManager</name>
    <message>
        <source>Choose Language…</source>
        <translation>Sprache wählen …</translation>
    </message>
    <message>
        <source>Quit Tellwind</source>
        <translation>Tellwind beenden</translation>
    </message>
    <message>
        <source>Show Panel</source>
        <translation>Leiste anzeigen</translation>
    </message>
    <message>
        <source>Settings…</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>Stop Dictation</source>
        <translation>Diktat beenden</translation>
    </message>
    <message>
        <source>Start Dictation</source>
        <translation>Diktat starten</translation>
    </message>
</context>
<context>
    <name>OnboardingView</name>
    <message>
        <source>Next</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Get Started</source>
        <translation>Loslegen</translation>
    </message>
    <message>
        <source>Welcome to Tellwind</source>
        <translation>Willkommen bei Tellwind</translation>
    </message>
    <message>
        <source>Tellwind can now type text into any application.</source>
        <translation>Tellwind kann jetzt Text in jede Anwendung tippen.</translation>
    </message>
    <message>
        <source>Tellwind needs to send key presses to type dictated text into other apps.</source>
        <translation>Tellwind muss Tastendrücke senden können, um diktierten Text in andere Anwendungen zu tippen.</translation>
    </message>
    <message>
        <source>Click &quot;Open Help&quot; below</source>
        <translation>Unten auf „Hilfe öffnen“ klicken</translation>
    </message>
    <message>
        <source>Log in to an X11 (Xorg) session</source>
        <translation>In einer X11-Sitzung (Xorg) anmelden</translation>
    </message>
    <message>
        <source>Make sure XTEST is enabled</source>
        <translation>Sicherstellen, dass XTEST aktiviert ist</translation>
    </message>
    <message>
        <source>Start Tellwind again</source>
        <translation>Tellwind neu starten</translation>
    </message>
    <message>
        <source>Open Help</source>
        <translation>Hilfe öffnen</translation>
    </message>
    <message>
        <source>This window will update automatically when typing becomes possible</source>
        <translation>Dieses Fenster aktualisiert sich von selbst, sobald Tippen möglich ist</translation>
    </message>
    <message>
        <source>Step %1 of %2</source>
        <translation>Schritt %1 von %2</translation>
    </message>
    <message>
        <source>Speak, and Tellwind types what you say into the application you are using. This short tour shows how.</source>
        <translation>Sprechen Sie, und Tellwind tippt das Gesagte in die Anwendung, die Sie gerade verwenden. Diese kurze Einführung zeigt, wie es geht.</translation>
    </message>
    <message>
        <source>Start and stop with a shortcut</source>
        <translation>Mit einem Tastenkürzel starten und beenden</translation>
    </message>
    <message>
        <source>Press it in any application to start dictating, and press it again to stop. Tellwind types your words where the cursor is.</source>
        <translation>Drücken Sie es in einer beliebigen Anwendung, um das Diktat zu starten, und noch einmal, um es zu beenden. Tellwind tippt Ihre Worte dort, wo der Cursor steht.</translation>
    </message>
    <message>
        <source>You can change the shortcut in Settings, under Shortcut.</source>
        <translation>Das Tastenkürzel lässt sich in den Einstellungen unter „Tastenkürzel“ ändern.</translation>
    </message>
    <message>
        <source>The shortcut is turned off. You can turn it on in Settings, under Shortcut.</source>
        <translation>Das Tastenkürzel ist ausgeschaltet. Sie können es in den Einstellungen unter „Tastenkürzel“ einschalten.</translation>
    </message>
    <message>
        <source>The panel</source>
        <translation>Die Leiste</translation>
    </message>
    <message>
        <source>A small panel stays above your windows. Drag it by its edge to move it.</source>
        <translation>Eine kleine Leiste bleibt über Ihren Fenstern. Ziehen Sie sie an ihrem Rand, um sie zu verschieben.</translation>
    </message>
    <message>
        <source>Starts and stops dictation, like the shortcut.</source>
        <translation>Startet und beendet das Diktat, wie das Tastenkürzel.</translation>
    </message>
    <message>
        <source>Chooses how speech is recognized: on this computer, which works offline, or on your speech server, which is more accurate.</source>
        <translation>Wählt, wo die Sprache erkannt wird: auf diesem Computer, was auch ohne Netz geht, oder auf Ihrem Spracherkennungsserver, der genauer ist.</translation>
    </message>
    <message>
        <source>Opens the language picker. Search by a language&apos;s name in English or in the language itself, or by its code.</source>
        <translation>Öffnet die Sprachauswahl. Suchen Sie nach dem Namen einer Sprache auf Deutsch, auf Englisch oder in der Sprache selbst, oder nach ihrem Kürzel.</translation>
    </message>
    <message>
        <source>If you hide the panel, &quot;Show Panel&quot; in the tray menu brings it back.</source>
        <translation>Wenn Sie die Leiste ausblenden, holt „Leiste anzeigen“ im Menü des Systembereichs sie zurück.</translation>
    </message>
    <message>
        <source>Typing is ready</source>
        <translation>Tippen ist bereit</translation>
    </message>
    <message>
        <source>Enable typing</source>
        <translation>Tippen ermöglichen</translation>
    </message>
    <message>
        <source>Start Tellwind when you log in</source>
        <translation>Tellwind bei der Anmeldung starten</translation>
    </message>
</context>
<context>
    <name>OnboardingViewSheet</name>
    <message>
        <source>Welcome to Tellwind</source>
        <translation>Willkommen bei Tellwind</translation>
    </message>
</context>
<context>
    <name>PulseAudioEngine::Private</name>
    <message>
        <source>The connection to the sound server was lost (%1).</source>
        <translation>Die Verbindung zum Tondienst ist abgebrochen (%1).</translation>
    </message>
    <message>
        <source>The microphone &apos;%1&apos; stopped (%2).</source>
        <translation>Das Mikrofon „%1“ ist ausgefallen (%2).</translation>
    </message>
</context>
<context>
    <name>RemoteDesktopKeyboard</name>
    <message>
        <source>Tellwind cannot type</source>
        <translation>Tellwind kann nicht tippen</translation>
    </message>
    <message>
        <source>The desktop did not open a typing session.</source>
        <translation>Die Arbeitsumgebung hat keine Sitzung zum Tippen geöffnet.</translation>
    </message>
    <message>
        <source>The desktop offers no keyboard for typing.</source>
        <translation>Die Arbeitsumgebung bietet keine Tastatur zum Tippen an.</translation>
    </message>
    <message>
        <source>Typing into other applications was not allowed. Tellwind asks again at the next dictation.</source>
        <translation>Das Tippen in andere Anwendungen wurde nicht erlaubt. Tellwind fragt beim nächsten Diktat erneut.</translation>
    </message>
    <message>
        <source>The desktop did not start the typing session. Tellwind tries again at the next dictation.</source>
        <translation>Die Arbeitsumgebung hat die Sitzung zum Tippen nicht gestartet. Tellwind versucht es beim nächsten Diktat erneut.</translation>
    </message>
    <message>
        <source>The desktop ended Tellwind&apos;s typing session. Tellwind asks again at the next dictation.</source>
        <translation>Die Arbeitsumgebung hat die Sitzung zum Tippen von Tellwind beendet. Tellwind fragt beim nächsten Diktat erneut.</translation>
    </message>
    <message>
        <source>Tellwind has no typing session with the desktop.</source>
        <translation>Tellwind hat keine Sitzung zum Tippen bei der Arbeitsumgebung.</translation>
    </message>
    <message>
        <source>The desktop refused a key, so the text is incomplete.</source>
        <translation>Die Arbeitsumgebung hat eine Taste abgelehnt, daher ist der Text unvollständig.</translation>
    </message>
    <message>
        <source>A character has no key to type it with.</source>
        <translation>Für ein Zeichen gibt es keine Taste, mit der es getippt werden kann.</translation>
    </message>
    <message>
        <source>This desktop lets Tellwind type only the characters of the keyboard layout, and it cannot paste the others.</source>
        <translation>Diese Arbeitsumgebung lässt Tellwind nur die Zeichen der Tastaturbelegung tippen, und die übrigen kann es nicht einfügen.</translation>
    </message>
</context>
<context>
    <name>EngineToggleButton</name>
    <message>
        <source>Server recognition</source>
        <translation>Erkennung auf dem Server</translation>
    </message>
    <message>
        <source>On-device recognition</source>
        <translation>Erkennung auf dem Gerät</translation>
    </message>
    <message>
        <source>Server recognition: more accurate, needs the server. Click for on-device.</source>
        <translation>Erkennung auf dem Server: genauer, braucht den Server. Klicken für Erkennung auf dem Gerät.</translation>
    </message>
    <message>
        <source>On-device recognition: works offline. Click for server recognition.</source>
        <translation>Erkennung auf dem Gerät: geht auch ohne Netz. Klicken für Erkennung auf dem Server.</translation>
    </message>
</context>
<context>
    <name>ServerLanguages</name>
    <message>
        <source>Not a server address: %1</source>
        <translation>Keine Serveradresse: %1</translation>
    </message>
    <message>
        <source>The server did not answer in time</source>
        <translation>Der Server hat nicht rechtzeitig geantwortet</translation>
    </message>
    <message>
        <source>The server answered %1 %2</source>
        <translation>Antwort des Servers: %1 %2</translation>
    </message>
    <message>
        <source>The server&apos;s answer is not a language list</source>
        <translation>Die Antwort des Servers ist keine Sprachliste</translation>
    </message>
    <message>
        <source>The request was canceled</source>
        <translation>Die Anfrage wurde abgebrochen</translation>
    </message>
</context>
<context>
    <name>SettingsView</name>
    <message>
        <source>Tellwind Settings</source>
        <translation>Tellwind-Einstellungen</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Account</source>
        <translation>Konto</translation>
    </message>
    <message>
        <source>Appearance</source>
        <translation>Darstellung</translation>
    </message>
    <message>
        <source>Settings sections</source>
        <translation>Einstellungsbereiche</translation>
    </message>
    <message>
        <source>Shortcut</source>
        <translation>Tastenkürzel</translation>
    </message>
</context>
<context>
    <name>SettingsWriteAlert</name>
    <message>
        <source>Tellwind Cannot Save Its Settings</source>
        <translation>Tellwind kann seine Einstellungen nicht speichern</translation>
    </message>
    <message>
        <source>%1 cannot be written. Changes you make now, signing in included, will be lost when Tellwind quits. Make sure the file and its folder belong to you and the disk is not full.</source>
        <translation>%1 kann nicht geschrieben werden. Änderungen, die Sie jetzt vornehmen, auch eine Anmeldung, gehen verloren, wenn Tellwind beendet wird. Stellen Sie sicher, dass die Datei und ihr Ordner Ihnen gehören und der Datenträger nicht voll ist.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>SpeechRecognitionManager</name>
    <message>
        <source>Failed to start server recognition: </source>
        <translation>Die Erkennung auf dem Server konnte nicht gestartet werden: </translation>
    </message>
    <message>
        <source>Microphone access not authorized. Please enable it in your desktop&apos;s Sound settings</source>
        <translation>Kein Zugriff auf das Mikrofon. Bitte erlauben Sie ihn in den Klangeinstellungen Ihrer Arbeitsumgebung</translation>
    </message>
</context>
<context>
    <name>SpeechService</name>
    <message>
        <source>The request timed out.</source>
        <translation>Die Anfrage hat zu lange gedauert.</translation>
    </message>
    <message>
        <source>Invalid server URL</source>
        <translation>Ungültige Serveradresse</translation>
    </message>
    <message>
        <source>Network error: %1</source>
        <translation>Netzwerkfehler: %1</translation>
    </message>
    <message>
        <source>Invalid response</source>
        <translation>Ungültige Antwort</translation>
    </message>
    <message>
        <source>Server error</source>
        <translation>Serverfehler</translation>
    </message>
    <message>
        <source>Server error: %1</source>
        <translation>Serverfehler: %1</translation>
    </message>
    <message>
        <source>This server recognizes speech only for signed-in users. Sign in to Tellwind and try again.</source>
        <translation>Dieser Server erkennt Sprache nur für angemeldete Nutzer. Melden Sie sich bei Tellwind an und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Unknown error</source>
        <translation>Unbekannter Fehler</translation>
    </message>
    <message>
        <source>%1 (%2 s of speech was lost)</source>
        <translation>%1 (%2 s Sprache gingen verloren)</translation>
    </message>
</context>
<context>
    <name>SpeechSettings</name>
    <message>
        <source>Asking the server…</source>
        <translation>Server wird abgefragt …</translation>
    </message>
    <message>
        <source>No answer: %1</source>
        <translation>Keine Antwort: %1</translation>
    </message>
    <message>
        <source>System default</source>
        <translation>Systemstandard</translation>
    </message>
    <message>
        <source>The chosen microphone (%1) is not connected: the system default is used until it is back.</source>
        <translation>Das gewählte Mikrofon (%1) ist nicht angeschlossen: Bis es wieder verfügbar ist, wird der Systemstandard verwendet.</translation>
    </message>
    <message>
        <source>The address must start with http:// or https://.</source>
        <translation>Die Adresse muss mit http:// oder https:// beginnen.</translation>
    </message>
    <message>
        <source>This is not a valid web address.</source>
        <translation>Das ist keine gültige Webadresse.</translation>
    </message>
    <message>
        <source>The address needs the server&apos;s name or IP address after &quot;%1://&quot;.</source>
        <translation>Nach „%1://“ fehlt der Name oder die IP-Adresse des Servers.</translation>
    </message>
    <message>
        <source>The server answers, but recognizes no language.</source>
        <translation>Der Server antwortet, erkennt aber keine Sprache.</translation>
    </message>
    <message>
        <source>The server recognizes one language: %1</source>
        <translation>Der Server erkennt eine Sprache: %1</translation>
    </message>
    <message numerus="yes">
        <source>The server recognizes %n languages: %1</source>
        <translation>
            <numerusform>Der Server erkennt %n Sprache: %1</numerusform>
            <numerusform>Der Server erkennt %n Sprachen: %1</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TextInsertionService</name>
    <message>
        <source>Permission to Type Required</source>
        <translation>Berechtigung zum Tippen erforderlich</translation>
    </message>
    <message>
        <source>Tellwind needs permission to send key presses to type text into other applications.

1. Click &quot;Open Help&quot;
2. Log in to an X11 (Xorg) session
3. Make sure the X server has XTEST enabled
4. Start Tellwind again</source>
        <translation>Tellwind braucht die Berechtigung, Tastendrücke zu senden, um Text in andere Anwendungen zu tippen.

1. Klicken Sie auf „Hilfe öffnen“
2. Melden Sie sich in einer X11-Sitzung (Xorg) an
3. Stellen Sie sicher, dass der X-Server XTEST aktiviert hat
4. Starten Sie Tellwind neu</translation>
    </message>
    <message>
        <source>Open Help</source>
        <translation>Hilfe öffnen</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Später</translation>
    </message>
    <message>
        <source>Tellwind needs permission to send key presses to type text.

⚠️ First, install Tellwind under /usr, /opt or ~/.local!

Then:
1. Click &quot;Open Help&quot;
2. Log in to an X11 (Xorg) session
3. Start &quot;Tellwind&quot; from its installed location
4. Make sure the X server has XTEST enabled</source>
        <translation>Tellwind braucht die Berechtigung, Tastendrücke zu senden, um Text zu tippen.

⚠️ Installieren Sie Tellwind zuerst unter /usr, /opt oder ~/.local!

Dann:
1. Klicken Sie auf „Hilfe öffnen“
2. Melden Sie sich in einer X11-Sitzung (Xorg) an
3. Starten Sie „Tellwind“ von seinem Installationsort
4. Stellen Sie sicher, dass der X-Server XTEST aktiviert hat</translation>
    </message>
    <message>
        <source>Install Tellwind</source>
        <translation>Tellwind installieren</translation>
    </message>
    <message>
        <source>Enable Typing</source>
        <translation>Tippen ermöglichen</translation>
    </message>
    <message>
        <source>Tellwind cannot type text without permission to send key presses.

Click &quot;Open Help&quot;, then follow its steps to let Tellwind type.</source>
        <translation>Ohne die Berechtigung, Tastendrücke zu senden, kann Tellwind keinen Text tippen.

Klicken Sie auf „Hilfe öffnen“ und folgen Sie den Schritten dort, damit Tellwind tippen kann.</translation>
    </message>
    <message>
        <source>Tellwind cannot type text without permission to send key presses.

⚠️ Please install Tellwind under /usr, /opt or ~/.local first!</source>
        <translation>Ohne die Berechtigung, Tastendrücke zu senden, kann Tellwind keinen Text tippen.

⚠️ Bitte installieren Sie Tellwind zuerst unter /usr, /opt oder ~/.local!</translation>
    </message>
    <message>
        <source>Not Now</source>
        <translation>Nicht jetzt</translation>
    </message>
    <message>
        <source>To install Tellwind:

1. Open the file manager
2. Move &quot;tellwind&quot; to ~/.local/bin
3. Re-open Tellwind from ~/.local/bin

Current location:
</source>
        <translation>So installieren Sie Tellwind:

1. Öffnen Sie den Dateimanager
2. Verschieben Sie „tellwind“ nach ~/.local/bin
3. Starten Sie Tellwind erneut aus ~/.local/bin

Aktueller Speicherort:
</translation>
    </message>
    <message>
        <source>Open File Manager</source>
        <translation>Dateimanager öffnen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Typing stopped before the text was complete.</source>
        <translation>Das Tippen endete, bevor der Text vollständig war.</translation>
    </message>
    <message>
        <source>Typing stopped before the text was complete: %1</source>
        <translation>Das Tippen endete, bevor der Text vollständig war: %1</translation>
    </message>
    <message>
        <source>These characters could not be typed on this desktop: %1</source>
        <translation>Diese Zeichen konnten in dieser Arbeitsumgebung nicht getippt werden: %1</translation>
    </message>
    <message>
        <source>Dictation not typed in full</source>
        <translation>Diktat nicht vollständig getippt</translation>
    </message>
    <message>
        <source>Another window had the keyboard focus before Tellwind had typed everything you said, so the rest was not typed anywhere. Copy the whole dictation to the clipboard?</source>
        <translation>Ein anderes Fenster hatte den Tastaturfokus, bevor Tellwind alles Gesagte getippt hatte. Der Rest wurde deshalb nirgends getippt. Das ganze Diktat in die Zwischenablage kopieren?</translation>
    </message>
    <message>
        <source>Copy to Clipboard</source>
        <translation>In die Zwischenablage kopieren</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>Verwerfen</translation>
    </message>
</context>
<context>
    <name>TypingBackend</name>
    <message>
        <source>The application did not take pasted text.</source>
        <translation>Die Anwendung hat den eingefügten Text nicht übernommen.</translation>
    </message>
</context>
<context>
    <name>VoiceButton</name>
    <message>
        <source>Stop dictation</source>
        <translation>Diktat beenden</translation>
    </message>
    <message>
        <source>Start dictation</source>
        <translation>Diktat starten</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1 (%2)</translation>
    </message>
</context>
<context>
    <name>WaylandVirtualKeyboard</name>
    <message>
        <source>The compositor did not give Tellwind a virtual keyboard.</source>
        <translation>Der Compositor hat Tellwind keine virtuelle Tastatur gegeben.</translation>
    </message>
    <message>
        <source>The compositor did not take a key.</source>
        <translation>Der Compositor hat eine Taste nicht angenommen.</translation>
    </message>
    <message>
        <source>There is no clipboard to paste from.</source>
        <translation>Es gibt keine Zwischenablage zum Einfügen.</translation>
    </message>
</context>
<context>
    <name>XTestKeyboard</name>
    <message>
        <source>The X server cannot be reached, or it does not accept synthesized keys (XTEST).</source>
        <translation>Der X-Server ist nicht erreichbar oder nimmt keine erzeugten Tastendrücke an (XTEST).</translation>
    </message>
    <message>
        <source>No key of the keyboard layout could be set up for a character.</source>
        <translation>Für ein Zeichen ließ sich keine Taste der Tastaturbelegung einrichten.</translation>
    </message>
    <message>
        <source>There is no clipboard to paste from.</source>
        <translation>Es gibt keine Zwischenablage zum Einfügen.</translation>
    </message>
</context>
</TS>
