<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="de">
<context>
    <name>MessageBoxHook</name>
    <message>
        <source>Fehler</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Information</translation>
    </message>
</context>
<context>
    <name>TMainForm</name>
    <message>
        <source>Verbinden</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Verbindung</source>
        <translation>Connection</translation>
    </message>
    <message>
        <source>Startet die gewählte Verbindung (Eingabetaste, Alt+V)</source>
        <translation>Starts the selected connection (Enter, Alt+V)</translation>
    </message>
    <message>
        <source>Log schreiben</source>
        <translation>Write log</translation>
    </message>
    <message>
        <source>Morvane: [Verbunden mit %1]</source>
        <translation>Morvane: [Connected to %1]</translation>
    </message>
    <message>
        <source>Verbunden</source>
        <translation>Connected</translation>
    </message>
    <message>
        <source>Es besteht eine Internetverbindung.</source>
        <translation>There is an Internet connection.</translation>
    </message>
</context>
</TS>
