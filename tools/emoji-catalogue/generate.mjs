#!/usr/bin/env node
// Builds resources/emoji.json from the pinned emojibase-data and gemoji packages.
//
//   node generate.mjs [--max-version 15.0] [--output path]
//
// One catalogue element per line keeps regenerations reviewable as diffs.

import { readFileSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';
import { gemoji } from 'gemoji';

const require = createRequire(import.meta.url);
const here = dirname(fileURLToPath(import.meta.url));

// Debian 12's Noto Color Emoji draws everything up to Emoji 15.0; newer code points would show as tofu.
const DEFAULT_MAX_VERSION = '15.0';

const GROUP_NAMES = new Map([
    [0, 'Smileys & Emotion'],
    [1, 'People & Body'],
    // 2 is the Component group (skin-tone and hair modifiers, regional indicators): not insertable alone.
    [3, 'Animals & Nature'],
    [4, 'Food & Drink'],
    [5, 'Travel & Places'],
    [6, 'Activities'],
    [7, 'Objects'],
    [8, 'Symbols'],
    [9, 'Flags'],
]);

// emojibase's qualifier codes in meta/hexcodes.json.
const FULLY_QUALIFIED = 0;

function parseOptions(argv) {
    const { values } = parseArgs({
        args: argv,
        options: {
            'max-version': { type: 'string', default: DEFAULT_MAX_VERSION },
            output: { type: 'string', default: resolve(here, '../../resources/emoji.json') },
            help: { type: 'boolean', short: 'h', default: false },
        },
    });
    if (values.help) {
        console.log('usage: node generate.mjs [--max-version X.Y] [--output FILE]');
        process.exit(0);
    }
    if (!/^\d+(\.\d+)?$/.test(values['max-version'])) {
        throw new Error(`--max-version wants a number such as 15.0, got "${values['max-version']}"`);
    }
    return { maxVersion: Number(values['max-version']), maxVersionText: values['max-version'], output: values.output };
}

const stripVS16 = (s) => s.replaceAll('\uFE0F', '');

function fromHexcode(hexcode) {
    return String.fromCodePoint(...hexcode.split('-').map((h) => parseInt(h, 16)));
}

// emojibase strips U+FE0F from single code point hexcodes, and its `emoji` field appends U+FE0F even to
// code points that are emoji-presentation by default. The qualification table tells which bare code
// points are fully qualified on their own and which need the variation selector. Sequences already
// carry their fully-qualified hexcode, so they are taken verbatim.
function emojiText(record, qualification) {
    if (record.hexcode.includes('-')) {
        return fromHexcode(record.hexcode);
    }
    const variants = qualification[record.hexcode];
    if (!variants) {
        throw new Error(`no qualification data for ${record.hexcode} (${record.label})`);
    }
    // A bare code point needs U+FE0F exactly when it defaults to text presentation (type 0); the two
    // tables disagreeing would mean the data changed shape, which deserves a look before shipping.
    const textDefault = record.type === 0;
    if (variants[record.hexcode] === FULLY_QUALIFIED) {
        if (textDefault) {
            throw new Error(`${record.hexcode} (${record.label}) is text-default yet qualified bare`);
        }
        return fromHexcode(record.hexcode);
    }
    if (variants[`${record.hexcode}-FE0F`] === FULLY_QUALIFIED) {
        if (!textDefault) {
            throw new Error(`${record.hexcode} (${record.label}) is emoji-default yet needs U+FE0F`);
        }
        return fromHexcode(`${record.hexcode}-FE0F`);
    }
    throw new Error(`no fully-qualified form for ${record.hexcode} (${record.label})`);
}

function asList(value) {
    if (value === undefined) {
        return [];
    }
    return Array.isArray(value) ? value : [value];
}

function usableAlias(alias) {
    return typeof alias === 'string' && alias.length > 0 && !/[\s:]/u.test(alias);
}

function buildCatalogue({ maxVersion }) {
    const data = require('emojibase-data/en/data.json');
    const qualification = require('emojibase-data/meta/hexcodes.json');
    const cldr = require('emojibase-data/en/shortcodes/cldr.json');

    const records = data
        .filter((r) => GROUP_NAMES.has(r.group) && r.version <= maxVersion)
        .sort((a, b) => a.order - b.order);

    const githubByEmoji = new Map();
    for (const g of gemoji) {
        githubByEmoji.set(stripVS16(g.emoji), g);
    }

    const entries = records.map((r) => ({
        record: r,
        emoji: emojiText(r, qualification),
        github: [],
        cldr: [],
    }));

    const matchedGithub = new Set();
    for (const e of entries) {
        const g = githubByEmoji.get(stripVS16(e.emoji));
        if (g) {
            matchedGithub.add(g);
            e.github = g.names;
        }
        e.cldr = asList(cldr[e.record.hexcode]);
    }

    // GitHub's names are what people already type, so they claim every alias before CLDR gets a turn;
    // within one source the earlier emoji wins.
    const owner = new Map();
    const dropped = [];
    for (const source of ['github', 'cldr']) {
        for (const e of entries) {
            for (const alias of e[source]) {
                if (!usableAlias(alias)) {
                    if (alias !== '') {
                        dropped.push(`${source} "${alias}" on ${e.record.hexcode}: not a shortcode`);
                    }
                    continue;
                }
                const holder = owner.get(alias);
                if (holder === undefined) {
                    owner.set(alias, e);
                } else if (holder !== e) {
                    dropped.push(`${source} "${alias}" on ${e.record.hexcode}: already ${holder.record.hexcode}`);
                }
            }
        }
    }
    for (const e of entries) {
        e.aliases = [];
    }
    for (const [alias, e] of owner) {
        e.aliases.push(alias);
    }
    // Map insertion order is claim order (all GitHub names first), so re-sort each entry's aliases back
    // to source order: GitHub's own order, then CLDR's.
    for (const e of entries) {
        const rank = (a) => {
            const gi = e.github.indexOf(a);
            return gi >= 0 ? gi : e.github.length + e.cldr.indexOf(a);
        };
        e.aliases.sort((a, b) => rank(a) - rank(b));
    }

    const unmatchedGithub = gemoji.filter((g) => !matchedGithub.has(g)).map((g) => `${g.emoji} ${g.names[0]}`);

    const catalogue = entries.map((e) => ({
        emoji: e.emoji,
        name: e.record.label,
        aliases: e.aliases,
        category: GROUP_NAMES.get(e.record.group),
        // Toned forms came later for some emoji (bunny ears and wrestlers in Emoji 17): only tones
        // within the version limit count, or the font would be asked for glyphs it does not have.
        supportsSkinTones: Array.isArray(e.record.skins) && e.record.skins.some((s) => s.version <= maxVersion),
    }));
    return { catalogue, dropped, unmatchedGithub };
}

function serialise(catalogue) {
    if (catalogue.length === 0) {
        return '[]\n';
    }
    return `[\n${catalogue.map((e) => JSON.stringify(e)).join(',\n')}\n]\n`;
}

function main() {
    const options = parseOptions(process.argv.slice(2));
    const { catalogue, dropped, unmatchedGithub } = buildCatalogue(options);

    const seen = new Set();
    for (const e of catalogue) {
        if (seen.has(e.emoji)) {
            throw new Error(`duplicate emoji ${e.emoji} (${e.name})`);
        }
        seen.add(e.emoji);
    }

    writeFileSync(options.output, serialise(catalogue), 'utf8');

    const aliasCount = catalogue.reduce((n, e) => n + e.aliases.length, 0);
    const withoutAlias = catalogue.filter((e) => e.aliases.length === 0);
    const pkg = (name) => JSON.parse(readFileSync(require.resolve(`${name}/package.json`), 'utf8')).version;
    console.log(`emojibase-data ${pkg('emojibase-data')}, gemoji ${pkg('gemoji')}, max version ${options.maxVersionText}`);
    console.log(`${catalogue.length} emoji, ${aliasCount} aliases -> ${options.output}`);
    if (withoutAlias.length > 0) {
        console.log(`${withoutAlias.length} emoji without any shortcode: ${withoutAlias.map((e) => e.name).join('; ')}`);
    }
    if (dropped.length > 0) {
        console.log(`${dropped.length} aliases dropped:\n  ${dropped.join('\n  ')}`);
    }
    if (unmatchedGithub.length > 0) {
        console.log(`${unmatchedGithub.length} GitHub names with no catalogue emoji: ${unmatchedGithub.join(', ')}`);
    }
}

try {
    main();
} catch (error) {
    console.error(`generate.mjs: ${error.message}`);
    process.exit(1);
}
