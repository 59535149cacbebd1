// The playground: edit a layout source, see its keyboard, and type through
// the engine, all in the page. velto.js (the engine built for the browser)
// defines createVelto(); everything else here talks to the Module it gives.
"use strict";

(function () {
  const COMPILE_DELAY_MS = 300;
  const DEFAULT_FILE = "intl.vkl";

  // KeyboardEvent.code to the PC scan code (set 1), 0x100 added for the
  // extended keys (those that come with an E0 prefix).
  const SCAN_CODES = (function () {
    const table = {
      Escape: 0x01, Minus: 0x0C, Equal: 0x0D, Backspace: 0x0E, Tab: 0x0F,
      BracketLeft: 0x1A, BracketRight: 0x1B, Enter: 0x1C, ControlLeft: 0x1D,
      Semicolon: 0x27, Quote: 0x28, Backquote: 0x29, ShiftLeft: 0x2A, Backslash: 0x2B,
      Comma: 0x33, Period: 0x34, Slash: 0x35, ShiftRight: 0x36, NumpadMultiply: 0x37,
      AltLeft: 0x38, Space: 0x39, CapsLock: 0x3A, NumLock: 0x45, ScrollLock: 0x46,
      Numpad7: 0x47, Numpad8: 0x48, Numpad9: 0x49, NumpadSubtract: 0x4A,
      Numpad4: 0x4B, Numpad5: 0x4C, Numpad6: 0x4D, NumpadAdd: 0x4E,
      Numpad1: 0x4F, Numpad2: 0x50, Numpad3: 0x51, Numpad0: 0x52, NumpadDecimal: 0x53,
      IntlBackslash: 0x56, F11: 0x57, F12: 0x58, NumpadEqual: 0x59,
      IntlRo: 0x73, IntlYen: 0x7D, NumpadComma: 0x7E,
      NumpadEnter: 0x11C, ControlRight: 0x11D, NumpadDivide: 0x135, PrintScreen: 0x137,
      AltRight: 0x138, Home: 0x147, ArrowUp: 0x148, PageUp: 0x149, ArrowLeft: 0x14B,
      ArrowRight: 0x14D, End: 0x14F, ArrowDown: 0x150, PageDown: 0x151,
      Insert: 0x152, Delete: 0x153, MetaLeft: 0x15B, MetaRight: 0x15C, ContextMenu: 0x15D,
    };
    // Rows of the main block whose codes run on one after the other.
    const runs = [["1234567890", 0x02], ["QWERTYUIOP", 0x10], ["ASDFGHJKL", 0x1E], ["ZXCVBNM", 0x2C]];
    for (const [keys, first] of runs) {
      [...keys].forEach((k, i) => {
        table[(k >= "0" && k <= "9" ? "Digit" : "Key") + k] = first + i;
      });
    }
    for (let n = 1; n <= 10; n++) table["F" + n] = 0x3A + n;
    return table;
  })();

  const $ = (id) => document.getElementById(id);
  const ui = {
    status: $("status"), file: $("file"), open: $("open"), source: $("source"),
    errors: $("errors"), keyboard: $("keyboard"), layout: $("layout"), typing: $("typing"),
    caps: $("caps"), dead: $("dead"), off: $("off"),
    downloadVkl: $("download-vkl"), downloadVkb: $("download-vkb"),
    xkbForm: $("xkb-form"), xkb: $("xkb"), xkbOptions: $("xkb-options"), xkbImport: $("xkb-import"),
    xkbList: $("xkb-list"),
  };

  let engine = null;
  // The path the source compiles under: relative includes resolve from it.
  let sourcePath = "/layouts/" + DEFAULT_FILE;
  // The entry of #file being edited, and the text of those left with edits,
  // so going back to one finds it as it was ("" is the file opened from disk).
  let current = null;
  const edited = new Map();
  let compileTimer = 0;
  let hasErrors = false;

  function setStatus(text, isError) {
    ui.status.textContent = text;
    ui.status.classList.toggle("error", !!isError);
  }

  function baseName(name) {
    const slash = name.lastIndexOf("/");
    const file = name.slice(slash + 1);
    const dot = file.lastIndexOf(".");
    return dot > 0 ? file.slice(0, dot) : file;
  }

  function showDiagnostics(list) {
    ui.errors.replaceChildren(...list.map((d) => {
      const item = document.createElement("div");
      item.className = /^\d+:\d+: warning/.test(d.text) ? "warning" : "error";
      item.textContent = d.text;
      item.dataset.line = d.line;
      item.title = "Go to line " + d.line;
      return item;
    }));
  }

  // Puts the caret at the start of a line of the source (clicking a diagnostic).
  function goToLine(line) {
    const text = ui.source.value;
    let at = 0;
    for (let n = 1; n < line && at >= 0; n++) {
      at = text.indexOf("\n", at);
      if (at >= 0) at++;
    }
    if (at < 0) at = text.length;
    ui.source.focus();
    ui.source.setSelectionRange(at, at);
    const lineHeight = parseFloat(getComputedStyle(ui.source).lineHeight) || 16;
    ui.source.scrollTop = Math.max(0, (line - 5) * lineHeight);
  }

  function showLayoutNames(names) {
    names.forEach((name, i) => {
      const option = ui.layout.options[i];
      if (option) option.textContent = name ? i + ": " + name : i + ": (none)";
    });
  }

  // Draws the keyboard and the lights for the engine's state.
  function refresh(state) {
    ui.layout.value = String(state.layout);
    ui.caps.classList.toggle("on", !!state.capsLock);
    ui.dead.classList.toggle("on", !!state.deadKey);
    ui.off.classList.toggle("on", !state.enabled);
    ui.keyboard.innerHTML = engine.render();
  }

  function compileNow() {
    clearTimeout(compileTimer);
    compileTimer = 0;
    const result = JSON.parse(engine.compile(ui.source.value, sourcePath));
    showDiagnostics(result.diagnostics || []);
    hasErrors = !result.ok;
    if (result.ok) {
      showLayoutNames(result.layouts || []);
      setStatus("Compiled " + fileName(sourcePath) + ".");
    } else {
      const count = result.diagnostics ? result.diagnostics.length : 0;
      setStatus((count === 1 ? "1 problem" : count + " problems") +
                "; typing and the picture keep the last description that compiled.", true);
    }
    ui.downloadVkb.disabled = hasErrors;
    ui.downloadVkb.title = hasErrors ? "The source has errors" : "";
    refresh(JSON.parse(engine.state()));
  }

  function scheduleCompile() {
    clearTimeout(compileTimer);
    compileTimer = setTimeout(compileNow, COMPILE_DELAY_MS);
  }

  function fileName(path) {
    return path.slice(path.lastIndexOf("/") + 1);
  }

  // Shows the entry of #file chosen: its text as last left, or as shipped.
  function switchFile(entry) {
    if (current !== null) edited.set(current, { path: sourcePath, text: ui.source.value });
    current = entry;
    const kept = edited.get(entry);
    sourcePath = kept ? kept.path : "/layouts/" + entry;
    ui.source.value = kept ? kept.text : engine.readLayout(entry);
    ui.source.scrollTop = 0;
    compileNow();
  }

  // Puts imported source in the editor as a file of its own, as if opened.
  function showImported(label, fileName, text) {
    let opened = ui.file.querySelector("option[data-opened]");
    if (!opened) {
      opened = document.createElement("option");
      opened.dataset.opened = "";
      ui.file.prepend(opened);
    }
    opened.value = "";
    opened.textContent = label;
    ui.file.value = "";
    // Whatever was opened before is replaced; a shipped file keeps its edits.
    if (current !== null && current !== "") edited.set(current, { path: sourcePath, text: ui.source.value });
    current = null;
    edited.set("", { path: "/work/" + fileName + ".vkl", text });
    switchFile("");
  }

  // A layout of xkeyboard-config, by its name and setxkbmap's options.
  function importXkb() {
    const name = ui.xkb.value.trim();
    if (!name) return;
    setStatus("Importing " + name + "…");
    const result = JSON.parse(engine.importXkb(name, ui.xkbOptions.value.trim()));
    if (!result.ok) {
      showDiagnostics(result.diagnostics || []);
      setStatus("Could not import " + name + ".", true);
      return;
    }
    showImported(name + " (xkb)", name.replace(/[()]/g, "-").replace(/-$/, ""), result.source);
  }

  // A file from the disk: a .vkl is source already, the others are imported.
  async function openFile(file) {
    const ext = file.name.slice(file.name.lastIndexOf(".") + 1).toLowerCase();
    let text;
    if (ext === "vkl") {
      text = await file.text();
    } else if (ext === "klc" || ext === "vkb") {
      const bytes = new Uint8Array(await file.arrayBuffer());
      const result = JSON.parse(engine.importFile("/work/" + file.name, bytes));
      if (!result.ok) {
        showDiagnostics(result.diagnostics || []);
        setStatus("Could not import " + file.name + ".", true);
        return;
      }
      text = result.source;
    } else {
      setStatus(file.name + ": the playground opens .vkl, .klc and .vkb files.", true);
      return;
    }
    showImported(file.name + " (opened)", baseName(file.name), text);
  }

  function download(name, data, type) {
    const url = URL.createObjectURL(new Blob([data], { type }));
    const link = document.createElement("a");
    link.href = url;
    link.download = name;
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 0);
  }

  // ----- Typing through the engine -----

  // The length of the character before / after the caret (1, or 2 for a
  // surrogate pair), so the caret never lands inside one.
  function charBefore(text, at) {
    if (at <= 0) return 0;
    const c = text.charCodeAt(at - 1);
    return at >= 2 && c >= 0xDC00 && c <= 0xDFFF ? 2 : 1;
  }
  function charAfter(text, at) {
    if (at >= text.length) return 0;
    const c = text.charCodeAt(at);
    return at + 1 < text.length && c >= 0xD800 && c <= 0xDBFF ? 2 : 1;
  }

  function insert(area, text) {
    area.setRangeText(text, area.selectionStart, area.selectionEnd, "end");
  }

  function moveTo(area, at) {
    area.setSelectionRange(at, at);
  }

  // Does what the engine typed or posted, at the caret.
  function apply(area, item) {
    if (item.text !== undefined) {
      insert(area, item.text);
      return;
    }
    const text = area.value;
    const start = area.selectionStart;
    const end = area.selectionEnd;
    switch (item.key) {
      case "ENTER": insert(area, "\n"); break;
      case "TAB": insert(area, "\t"); break;
      case "LEFT": moveTo(area, start !== end ? start : start - charBefore(text, start)); break;
      case "RIGHT": moveTo(area, start !== end ? end : end + charAfter(text, end)); break;
      case "BACK":
        if (start === end) area.setSelectionRange(start - charBefore(text, start), end);
        insert(area, "");
        break;
      case "DELETE":
        if (start === end) area.setSelectionRange(start, end + charAfter(text, end));
        insert(area, "");
        break;
      case "HOME": moveTo(area, text.lastIndexOf("\n", start - 1) + 1); break;
      case "END": {
        const next = text.indexOf("\n", end);
        moveTo(area, next < 0 ? text.length : next);
        break;
      }
      default:
        console.error("Velto playground: unknown key from the engine:", item.key);
    }
  }

  function onKey(event) {
    const scan = SCAN_CODES[event.code];
    if (scan === undefined) return;
    const result = JSON.parse(engine.key(scan, event.type === "keyup"));
    if (result.swallowed) event.preventDefault();
    for (const item of result.out) apply(ui.typing, item);
    refresh(result.state);
  }

  // ----- Start -----

  function wire() {
    ui.source.addEventListener("input", scheduleCompile);
    ui.errors.addEventListener("click", (event) => {
      const item = event.target.closest("[data-line]");
      if (item) goToLine(Number(item.dataset.line));
    });
    ui.file.addEventListener("change", () => switchFile(ui.file.value));
    ui.open.addEventListener("change", () => {
      if (ui.open.files.length) openFile(ui.open.files[0]);
      ui.open.value = "";
    });
    ui.xkbForm.addEventListener("submit", (event) => {
      event.preventDefault();
      importXkb();
    });
    ui.layout.addEventListener("change", () => {
      refresh(JSON.parse(engine.selectLayout(Number(ui.layout.value))));
    });
    ui.typing.addEventListener("keydown", onKey);
    ui.typing.addEventListener("keyup", onKey);
    // Keys held when the focus leaves would never see their release.
    ui.typing.addEventListener("blur", () => refresh(JSON.parse(engine.releaseAll())));

    ui.downloadVkl.addEventListener("click", () => {
      download(baseName(sourcePath) + ".vkl", ui.source.value, "text/plain;charset=utf-8");
    });
    ui.downloadVkb.addEventListener("click", () => {
      download(baseName(sourcePath) + ".vkb", engine.vkb(), "application/octet-stream");
    });

    // Dropping a file anywhere on the page opens it.
    let dragDepth = 0;
    document.addEventListener("dragenter", (event) => {
      if (!event.dataTransfer.types.includes("Files")) return;
      dragDepth++;
      document.body.classList.add("dragging");
    });
    document.addEventListener("dragleave", () => {
      if (dragDepth > 0 && --dragDepth === 0) document.body.classList.remove("dragging");
    });
    document.addEventListener("dragover", (event) => event.preventDefault());
    document.addEventListener("drop", (event) => {
      event.preventDefault();
      dragDepth = 0;
      document.body.classList.remove("dragging");
      const file = event.dataTransfer.files[0];
      if (file) openFile(file);
    });
  }

  async function shippedLayouts() {
    try {
      const response = await fetch("layouts/index.json");
      if (!response.ok) throw new Error(response.status + " " + response.statusText);
      return await response.json();
    } catch (error) {
      console.error("Velto playground: no list of layouts:", error);
      return [DEFAULT_FILE];
    }
  }

  async function start() {
    if (typeof createVelto !== "function") {
      setStatus("The engine (velto.js) could not be loaded, so the playground cannot run.", true);
      return;
    }
    try {
      engine = await createVelto();
    } catch (error) {
      console.error("Velto playground: the engine failed to start:", error);
      setStatus("The engine failed to start: " + (error && error.message || error), true);
      return;
    }
    const names = await shippedLayouts();
    for (const name of names) ui.file.add(new Option(name, name));
    const first = names.includes(DEFAULT_FILE) || !names.length ? DEFAULT_FILE : names[0];
    for (const [name, description] of JSON.parse(engine.xkbLayouts())) ui.xkbList.append(new Option(description, name));
    for (const control of [ui.file, ui.open, ui.source, ui.layout, ui.typing, ui.downloadVkl, ui.downloadVkb,
                           ui.xkb, ui.xkbOptions, ui.xkbImport]) {
      control.disabled = false;
    }
    wire();
    ui.file.value = first;
    switchFile(first);
  }

  start();
})();
