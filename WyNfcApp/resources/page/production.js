"use strict";
// Production: one profile written to driver after driver. Each driver goes through the same
// requests as a single write from the editor: a read, the product check, write mode, the
// profile's values in answer to the write event, and a read that checks them. The run keeps
// a record of each driver. No DOM here; ProductionView draws what the run holds.
(function (global) {
  const { Editor, AREA_OF_KEY, PROPERTIES } = global.WyEditor;

  const PROGRAMMED = "programmed";
  const REFUSED = "refused";
  const FAILED = "failed";

  function plural(n, word) {
    return n + " " + word + (n === 1 ? "" : "s");
  }

  // The profile as a list of areas with their entries, or the reason it is none.
  function profileList(text) {
    let list;
    try {
      list = JSON.parse(text);
    } catch (e) {
      return { problem: "The file is not JSON: " + e.message };
    }
    if (!Array.isArray(list) || !list.length) return { problem: "A profile is a list of areas with their settings; this file has none." };
    return { list };
  }

  class Production {
    // post(method, data): a request to the native side; changed(): the view draws again;
    // options.retryDelay: how long to wait before looking for a driver again after one
    // that was already done (real readers see it until it is taken away).
    constructor(post, changed, options) {
      this.post = post;
      this.changed = changed || (() => {});
      this.retryDelay = (options && options.retryDelay) || 2000;
      this.now = (options && options.now) || (() => new Date());
      this.pageData = null;
      this.profile = null;     // {text, file, list, settings, areas}
      this.profileProblem = "";
      this.choosing = false;   // a file dialog for the profile is open
      this.running = false;
      this.stopping = false;
      this.phase = "idle";     // idle, reading, writing, written, verifying, pause
      this.current = null;     // the driver in progress
      this.resetRecord();
    }

    resetRecord() {
      this.records = [];        // newest last
      this.counts = { programmed: 0, refused: 0, failed: 0 };
      this.product = null;      // {deviceType, subType} of the first driver programmed
      this.handled = new Map(); // UID -> record, for drivers programmed or refused
      this.last = null;         // the record shown in large type, or a note
      this.note = "";           // what the worker is asked to do now
      this.takeOff = false;     // the driver on the reader was done already
    }

    setPageData(data) {
      this.pageData = data;
    }

    freshEditor() {
      const editor = new Editor();
      editor.setPageData(this.pageData);
      return editor;
    }

    // A profile file's text: checked against the memory map before it can be used.
    setProfile(text, file) {
      const parsed = profileList(text);
      let problems = parsed.problem ? [parsed.problem] : [];
      if (!problems.length) {
        if (!this.pageData || !this.pageData.map) problems = ["The page has no memory map to check the profile against."];
        else problems = this.freshEditor().importProfile(text).problems;
      }
      if (problems.length) {
        this.profileProblem = "The profile " + file + " cannot be used: " + problems.slice(0, 3).join(" ") +
          (problems.length > 3 ? " (and " + (problems.length - 3) + " more)" : "");
        this.changed();
        return false;
      }
      const settings = parsed.list.reduce((n, area) => n + area.data.length, 0);
      this.profile = { text, file, list: parsed.list, settings, areas: parsed.list.length };
      this.profileProblem = "";
      this.changed();
      return true;
    }

    chooseProfile() {
      if (this.running || this.choosing) return;
      this.choosing = true;
      this.changed();
      this.post("IMPORT_PROFILE");
    }

    // A "PROFILE_EVENT" that answers chooseProfile.
    profileAnswer(answer) {
      this.choosing = false;
      if (answer.outcome === "loaded") this.setProfile(answer.text || "", answer.file || "the file");
      else if (answer.outcome === "failed") {
        this.profileProblem = answer.message || "The profile could not be loaded.";
        this.changed();
      } else this.changed();
    }

    start() {
      if (this.running || !this.profile) return false;
      this.resetRecord();
      this.running = true;
      this.stopping = false;
      this.post("WATCH_JOBS", "on");
      this.askForDriver();
      return true;
    }

    // Ends the run at once while no driver is being worked on, else once it is done.
    stop() {
      if (!this.running) return;
      const busy = this.current && (this.current.started || this.phase !== "reading");
      if (this.phase === "pause" || !busy) {
        this.endRun();
        return;
      }
      this.stopping = true;
      this.note = "Stopping after this driver. Keep it on the reader until its result shows.";
      this.changed();
    }

    endRun() {
      clearTimeout(this.retryTimer);
      this.running = false;
      this.stopping = false;
      this.phase = "idle";
      this.current = null;
      this.post("WATCH_JOBS", "off");
      const c = this.counts;
      this.note = "Run ended: " + c.programmed + " programmed, " + c.refused + " refused, " + c.failed + " failed.";
      this.changed();
    }

    askForDriver() {
      this.phase = "reading";
      this.current = { editor: this.freshEditor(), started: null, uid: null };
      if (this.takeOff) this.note = "Take that driver off the reader, then lay the next one.";
      else this.note = this.records.length ? "Lay the next driver on the reader." : "Lay the first driver on the reader.";
      this.changed();
      this.post("SHOW_READ_MODE_POPUP");
    }

    // Whether an event belongs to the run rather than to the editor.
    takes(event, payload) {
      if (!this.running) return false;
      if (event === "JOB_EVENT" || event === "UPDATE_EVENT") return true;
      return event === "NOTIFY_EVENT" && payload === "WRITE_EVENT";
    }

    onEvent(event, payload) {
      if (event === "UPDATE_EVENT") this.onUpdate(String(payload));
      else if (event === "NOTIFY_EVENT") this.onWriteEvent();
      else if (event === "JOB_EVENT") {
        let answer;
        try {
          answer = JSON.parse(payload);
        } catch (e) {
          return;
        }
        this.onJob(answer);
      }
    }

    // The values of a read go to the driver's own editor: the one of its first read, or of
    // the read that checks the write.
    onUpdate(payload) {
      const editor = this.phase === "reading" ? this.current.editor : this.phase === "verifying" ? this.current.check : null;
      if (!editor) return;
      const colon = payload.indexOf(":");
      if (colon < 0) return;
      const key = payload.substring(0, colon);
      const text = payload.substring(colon + 1);
      try {
        if (key === "identification") {
          editor.setIdentification(text);
          if (!this.current.started) {
            this.current.started = this.now();
            this.note = "Reading the driver\u2026";
            this.changed();
          }
        } else if (key === "spec") editor.setSpec(text);
        else if (AREA_OF_KEY[key]) editor.setArea(AREA_OF_KEY[key], JSON.parse(text) || []);
      } catch (e) {
        this.current.unreadable = key;
      }
    }

    onWriteEvent() {
      if (this.phase !== "writing") return; // only the first after write mode; the reader repeats it
      this.phase = "written";
      this.post("WRITE_DATA", this.current.writeData);
    }

    onJob(answer) {
      if (!this.current) return;
      if (!this.current.started) this.current.started = this.now();
      if (answer.job === "read" && this.phase === "reading") this.driverRead(answer);
      else if (answer.job === "write" && (this.phase === "written" || this.phase === "writing")) this.driverWritten(answer);
      else if (answer.job === "read" && this.phase === "verifying") this.driverChecked(answer);
    }

    driverRead(answer) {
      const driver = this.current;
      driver.uid = answer.uid || null;
      if (answer.outcome !== "completed" && answer.message === "Not Support this product") {
        this.finish(REFUSED, "This kind of driver is not supported. Nothing was written.");
        return;
      }
      if (answer.outcome !== "completed" || !driver.editor.driver) {
        this.finish(FAILED, "The driver could not be read" + (answer.message ? " (" + answer.message + ")" : "") +
          ". Nothing was written. Lay it on the reader again.");
        return;
      }
      const done = driver.uid && this.handled.get(driver.uid);
      if (done) {
        this.alreadyDone(done);
        return;
      }
      this.takeOff = false;
      const kind = driver.editor.driver;
      if (this.product && (kind.deviceType !== this.product.deviceType || kind.subType !== this.product.subType)) {
        this.finish(REFUSED, "Another kind of driver: " + productText(kind.deviceType, kind.subType, modelName(driver.editor)) +
          ". This run programs " + productText(this.product.deviceType, this.product.subType, this.product.model) +
          ". Nothing was written.");
        return;
      }
      const outcome = driver.editor.importProfile(this.profile.text);
      if (outcome.problems.length) {
        this.finish(REFUSED, "The profile does not fit this driver: " + outcome.problems.slice(0, 2).join(" ") + " Nothing was written.");
        return;
      }
      if (outcome.skippedAreas.length) {
        this.finish(REFUSED, "This driver lacks " + plural(outcome.skippedAreas.length, "group") +
          " of settings that the profile sets. Nothing was written.");
        return;
      }
      driver.writeData = this.writeData(driver.editor);
      this.phase = "writing";
      this.note = "Writing the profile. Keep the driver on the reader.";
      this.changed();
      this.post("SHOW_WRITE_MODE_POPUP");
    }

    // "<device type>,<sub type>:<areas>": every value the profile sets, as a whole value.
    writeData(editor) {
      const list = [];
      for (const group of this.profile.list) {
        const data = [];
        const seen = new Set();
        for (const entry of group.data) {
          const item = entry.propName.split(".")[0];
          const field = editor.field(group.name + "." + item);
          if (!field || seen.has(item)) continue;
          seen.add(item);
          data.push(field.wholeEntry(field.current));
        }
        if (data.length) list.push({ name: group.name, data });
      }
      return editor.driver.deviceType + "," + editor.driver.subType + ":" + JSON.stringify(list);
    }

    driverWritten(answer) {
      const driver = this.current;
      if (answer.uid && driver.uid && answer.uid !== driver.uid) {
        this.finish(FAILED, "Another driver (" + answer.uid + ") was on the reader when the profile was written. " +
          "Program both drivers again.");
        return;
      }
      if (answer.outcome !== "completed") {
        this.finish(FAILED, "Writing failed" + (answer.message ? " (" + answer.message + ")" : "") +
          ". The driver may hold part of the profile: program it again.");
        return;
      }
      driver.check = this.freshEditor();
      this.phase = "verifying";
      this.note = "Checking what was written. Keep the driver on the reader.";
      this.changed();
      this.post("SHOW_READ_MODE_POPUP");
    }

    driverChecked(answer) {
      const driver = this.current;
      if (answer.outcome !== "completed" || !driver.check.driver) {
        this.finish(FAILED, "The profile was written but could not be read back" +
          (answer.message ? " (" + answer.message + ")" : "") + ". Program the driver again.");
        return;
      }
      if (answer.uid && driver.uid && answer.uid !== driver.uid) {
        this.finish(FAILED, "Another driver (" + answer.uid + ") was read back. Program both drivers again.");
        return;
      }
      const outcome = driver.check.importProfile(this.profile.text);
      const differing = outcome.problems.length ? null : driver.check.changedFields();
      if (!differing || differing.length) {
        const which = differing ? differing.slice(0, 3).map((f) => f.label).join(", ") : "";
        this.finish(FAILED, differing
          ? plural(differing.length, "setting") + " did not take the profile's value (" + which + (differing.length > 3 ? ", \u2026" : "") + "). Program the driver again."
          : "What was read back does not fit the profile. Program the driver again.");
        return;
      }
      if (!this.product) {
        const kind = driver.editor.driver;
        this.product = { deviceType: kind.deviceType, subType: kind.subType, model: modelName(driver.editor) };
      }
      this.finish(PROGRAMMED, "All " + plural(this.profile.settings, "setting") + " written and checked.");
    }

    // A driver of this run came again: it is not programmed twice.
    alreadyDone(record) {
      this.last = {
        result: "again", uid: record.uid, time: this.now(),
        reason: "This driver was already " + record.result + " at " + timeText(record.time) +
          ". Take it off the reader and lay the next one.",
      };
      this.note = "Take this driver off the reader.";
      this.takeOff = true;
      this.current = null;
      this.phase = "pause";
      this.changed();
      this.post("NEXT_DRIVER");
      if (this.stopping) {
        this.endRun();
        return;
      }
      this.retryTimer = setTimeout(() => {
        if (this.running && this.phase === "pause") this.askForDriver();
      }, this.retryDelay);
    }

    finish(result, reason) {
      const driver = this.current;
      const time = this.now();
      const record = {
        number: this.records.length + 1, uid: driver.uid, result, reason, time,
        seconds: driver.started ? Math.max(0, (time - driver.started) / 1000) : 0,
      };
      this.records.push(record);
      this.counts[result] += 1;
      if (driver.uid && result !== FAILED) this.handled.set(driver.uid, record);
      this.last = record;
      this.current = null;
      this.phase = "pause";
      this.post("NEXT_DRIVER");
      if (this.stopping) this.endRun();
      else this.askForDriver();
    }
  }

  // The model name a driver gives in its product description, if it gives one.
  function modelName(editor) {
    const f = editor.field(PROPERTIES + ".model_name");
    const name = f ? String(f.describe(f.original)).trim() : "";
    return name || null;
  }
  function productText(deviceType, subType, model) {
    return (model ? model + " (" : "") + "type " + deviceType + " / sub type " + subType + (model ? ")" : "");
  }

  function twoDigits(n) {
    return (n < 10 ? "0" : "") + n;
  }
  function timeText(date) {
    return twoDigits(date.getHours()) + ":" + twoDigits(date.getMinutes()) + ":" + twoDigits(date.getSeconds());
  }

  global.WyProduction = { Production, timeText, PROGRAMMED, REFUSED, FAILED };
})(window);
