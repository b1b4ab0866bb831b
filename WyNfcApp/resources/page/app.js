"use strict";
// The page's side of the native bridge, and what its buttons do.
// Requests go to the message handler "requestNativeAsync" as "METHOD:DATA"; native code
// answers through WyNfcEventCallback(event, payload).
(function (global) {
  const { Editor, AREA_OF_KEY } = global.WyEditor;
  const { View } = global.WyView;
  const { Production } = global.WyProduction;
  const { ProductionView } = global.WyProductionView;

  const editor = new Editor();
  const $ = (id) => document.getElementById(id);
  let view = null;
  let pendingWrite = null;  // the write request, posted at the first "WRITE_EVENT" after Write
  let profileBusy = false;  // a file dialog of the native side is open
  let pageDataReady = false;
  const waitingEvents = [];
  let productionView = null;
  const production = new Production(post, () => { if (productionView) productionView.draw(); updateModes(); });

  function post(method, data) {
    const handlers = global.webkit && global.webkit.messageHandlers;
    const handler = handlers && handlers.requestNativeAsync;
    if (handler) handler.postMessage(method + ":" + (data || ""));
  }

  // Progress and outcomes are read out politely; problems at once.
  function say(text) {
    $("status").textContent = text;
  }
  function warn(text) {
    const node = $("alert");
    node.textContent = text;
    node.hidden = !text;
  }

  function plural(n, word) {
    return n + " " + word + (n === 1 ? "" : "s");
  }

  function updateControls() {
    const changed = editor.changedFields().length;
    const invalid = editor.invalidFields().length;
    const read = editor.driver !== null;
    $("write").disabled = !editor.canWrite();
    $("revert-all").hidden = changed === 0;
    $("export").disabled = !read || profileBusy;
    $("import").disabled = !read || profileBusy;
    $("change-count").textContent = changed ? plural(changed, "change") : "";
    let hint = "";
    if (!read) hint = "Read a driver to see its settings.";
    else if (invalid) hint = "Fix " + (invalid === 1 ? "the marked value" : "the " + invalid + " marked values") + " before writing.";
    else if (!changed) hint = "Change a setting to write it to the driver.";
    $("write-hint").textContent = hint;
  }

  function edited(field, how) {
    editor.validate();
    view.refresh();
    updateControls();
    if (how && how.reverted) say(field.label + " is back to " + field.describe(field.original) + ".");
  }

  function rerender() {
    view.render();
    updateControls();
  }

  function onUpdate(payload) {
    const colon = payload.indexOf(":");
    if (colon < 0) return;
    const key = payload.substring(0, colon);
    const text = payload.substring(colon + 1);
    try {
      if (key === "identification") {
        warn("");
        const { dropped } = editor.setIdentification(text);
        if (dropped) warn("Another kind of driver was read: your " + plural(dropped, "change") + " for the last one were dropped.");
        say("The values below are what the driver holds.");
        rerender();
      } else if (key === "spec") {
        editor.setSpec(text);
        rerender();
      } else if (AREA_OF_KEY[key]) {
        const area = AREA_OF_KEY[key];
        const outcome = editor.setArea(area, JSON.parse(text) || []);
        if (outcome.fresh) rerender();
        else {
          view.refresh();
          updateControls();
        }
        reportSent(editor.settleSent(area));
      }
    } catch (e) {
      warn("The driver's values under \u201c" + key + "\u201d could not be shown: " + e.message);
    }
  }

  // Once every area of the last write has been read again: did the changes arrive?
  function reportSent(result) {
    if (!result) return;
    $("read-again").hidden = true;
    if (result.missed === 0) say("The driver holds all " + plural(result.reached, "change") + " written.");
    else warn(plural(result.missed, "change") + " did not reach the driver; they are still marked, ready for another write.");
  }

  function onWriteEvent() {
    if (pendingWrite === null) return; // only the first after Write; the reader repeats it
    const request = pendingWrite;
    pendingWrite = null;
    editor.markSent();
    post("WRITE_DATA", request);
    say("Changes sent to the driver. Read the driver again to check that it holds them.");
    $("read-again").hidden = false;
  }

  function onProfileEvent(payload) {
    let answer;
    try {
      answer = JSON.parse(payload);
    } catch (e) {
      answer = null;
    }
    if (production.choosing) { // the production mode's profile
      production.profileAnswer(answer || { outcome: "failed", message: "The file dialog answered in a way the page cannot read." });
      return;
    }
    profileBusy = false;
    updateControls();
    if (!answer) {
      warn("The file dialog answered in a way the page cannot read.");
      return;
    }
    if (answer.outcome === "cancelled") return;
    if (answer.outcome === "failed") {
      warn(answer.message || "The profile could not be saved or loaded.");
      return;
    }
    if (answer.request === "EXPORT_PROFILE") {
      say("Profile saved to " + answer.file + ".");
      return;
    }
    if (answer.request === "IMPORT_PROFILE") importProfile(answer.text || "", answer.file || "the file");
  }

  function importProfile(text, file) {
    const outcome = editor.importProfile(text);
    if (outcome.problems.length) {
      const shown = outcome.problems.slice(0, 5);
      const more = outcome.problems.length - shown.length;
      warn("The profile " + file + " was not used: " + shown.join(" ") + (more > 0 ? " (and " + more + " more)" : ""));
      return;
    }
    warn("");
    view.refresh();
    updateControls();
    let text2 = "Profile " + file + ": " + plural(outcome.applied, "change") + " to review";
    if (outcome.unchanged) text2 += ", " + outcome.unchanged + " already as in the profile";
    if (outcome.skippedAreas.length) text2 += "; skipped " + plural(outcome.skippedAreas.length, "area") + " this driver does not have";
    say(text2 + ". Press Write to see them before anything is written.");
    const first = editor.changedFields()[0];
    if (first) view.focusField(first.path);
  }

  function suggestedProfileName() {
    const f = editor.field("nfc_data_addr_led_product_properties.model_name");
    const model = f ? f.describe(f.original).replace(/[^A-Za-z0-9_-]+/g, "") : "";
    return (model || "driver") + "-profile.json";
  }

  function handleEvent(event, payload) {
    if (production.takes(event, payload)) production.onEvent(event, String(payload));
    else if (event === "UPDATE_EVENT") onUpdate(String(payload));
    else if (event === "NOTIFY_EVENT" && payload === "WRITE_EVENT") onWriteEvent();
    else if (event === "GET_VERSION_CALLBACK") $("version").textContent = "Version " + payload;
    else if (event === "PROFILE_EVENT") onProfileEvent(String(payload));
  }

  global.WyNfcEventCallback = function (event, payload) {
    if (event === "PAGE_DATA_CALLBACK") {
      try {
        const data = JSON.parse(payload);
        editor.setPageData(data);
        production.setPageData(data);
      } catch (e) {
        warn("The descriptions of the settings could not be loaded; values are shown by their raw names.");
      }
      if (!editor.catalogue) warn("The descriptions of the settings could not be loaded; values are shown by their raw names.");
      if (pageDataReady) { // late: what is shown so far had no descriptions
        editor.redescribe();
        rerender();
      }
      pageDataArrived();
      return;
    }
    if (!pageDataReady && event === "UPDATE_EVENT") waitingEvents.push([event, payload]);
    else handleEvent(event, payload);
  };

  function pageDataArrived() {
    if (pageDataReady) return;
    pageDataReady = true;
    for (const [event, payload] of waitingEvents.splice(0)) handleEvent(event, payload);
    rerender();
  }

  // The review dialog: what will change, before anything is written.
  function openReview() {
    if (!editor.canWrite()) return;
    view.renderReview($("review-list"));
    const changes = editor.changedFields().length;
    $("review-title").textContent = "Write " + plural(changes, "change") + " to the driver?";
    $("review").hidden = false;
    document.body.classList.add("modal-open");
    $("review-confirm").focus();
  }
  function closeReview() {
    $("review").hidden = true;
    document.body.classList.remove("modal-open");
    $("write").focus();
  }
  function confirmWrite() {
    pendingWrite = editor.writeData();
    $("review").hidden = true;
    document.body.classList.remove("modal-open");
    say("Waiting for the driver: the changes are written as soon as it answers.");
    post("SHOW_WRITE_MODE_POPUP");
  }

  // The two modes: the editor of one driver, and production, one profile for driver after
  // driver. While a run goes on, the editor is out of reach.
  function showMode(production_) {
    $("editor-panel").hidden = production_;
    $("production").hidden = !production_;
    document.querySelector(".actions").hidden = production_;
    $("production-bar").hidden = !production_;
    document.body.classList.toggle("mode-production", production_);
    for (const [id, selected] of [["mode-edit", !production_], ["mode-production", production_]]) {
      $(id).setAttribute("aria-selected", selected ? "true" : "false");
    }
    if (production_) productionView.draw();
  }
  function updateModes() {
    $("mode-edit").disabled = production.running || production.choosing;
  }

  function wire() {
    view = new View(editor, edited);
    productionView = new ProductionView(production);
    $("mode-edit").addEventListener("click", () => showMode(false));
    $("mode-production").addEventListener("click", () => {
      if (pendingWrite !== null || profileBusy) return; // the editor's write or dialog is under way
      showMode(true);
    });
    document.querySelector(".modes").addEventListener("keydown", (e) => {
      if (e.key !== "ArrowLeft" && e.key !== "ArrowRight") return;
      const target = e.key === "ArrowRight" ? $("mode-production") : $("mode-edit");
      if (!target.disabled) {
        target.click();
        target.focus();
      }
    });
    $("production-choose").addEventListener("click", () => production.chooseProfile());
    $("production-start").addEventListener("click", () => {
      if (production.start()) $("production-stop").focus();
    });
    $("production-stop").addEventListener("click", () => {
      productionView.stopPressed();
      production.stop();
    });
    $("read").addEventListener("click", () => {
      pendingWrite = null;
      say("Lay the driver on the reader.");
      post("SHOW_READ_MODE_POPUP");
    });
    $("read-again").addEventListener("click", () => $("read").click());
    $("write").addEventListener("click", openReview);
    $("revert-all").addEventListener("click", () => {
      for (const f of editor.changedFields()) f.revert();
      edited(null);
      say("Every setting is back to what was read from the driver.");
    });
    $("review-confirm").addEventListener("click", confirmWrite);
    $("review-cancel").addEventListener("click", closeReview);
    $("review").addEventListener("keydown", (e) => {
      if (e.key === "Escape") closeReview();
      if (e.key === "Tab") { // keep the focus inside the dialog
        const buttons = [$("review-list"), $("review-cancel"), $("review-confirm")];
        const i = buttons.indexOf(document.activeElement);
        e.preventDefault();
        buttons[(i + (e.shiftKey ? buttons.length - 1 : 1)) % buttons.length].focus();
      }
    });
    $("export").addEventListener("click", () => {
      const invalid = editor.invalidFields().length;
      if (invalid) {
        warn("Fix the marked values before saving a profile.");
        return;
      }
      profileBusy = true;
      updateControls();
      post("EXPORT_PROFILE", JSON.stringify({ suggestedName: suggestedProfileName(), text: JSON.stringify(editor.profile(), null, 2) + "\n" }));
    });
    $("import").addEventListener("click", () => {
      profileBusy = true;
      updateControls();
      post("IMPORT_PROFILE");
    });
    $("close").addEventListener("click", () => post("HIDE_APP"));

    // The application sets the reader type once the page has loaded: show it when it comes.
    let readerType = global.readerType;
    const showReader = () => {
      $("reader").textContent = readerType === "BLE" ? "Bluetooth reader" : readerType === "NFC" ? "NFC reader" : "not connected yet";
    };
    Object.defineProperty(global, "readerType", {
      configurable: true,
      get: () => readerType,
      set: (value) => { readerType = value; showReader(); },
    });
    showReader();
    rerender();
    say("Press Read and lay the driver on the reader.");
    post("GET_PAGE_DATA");
    post("GET_VERSION");
    // Without the descriptions the page still works, by the values' own names.
    setTimeout(pageDataArrived, 3000);
  }

  global.WyPage = { editor, production, importProfile, get view() { return view; }, get pendingWrite() { return pendingWrite; } };
  wire();
})(window);
