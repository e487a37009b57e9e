package com.vesk.orvanex.agent;

import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.Reader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Properties;

/**
 * The texts of alert identifiers, read from the installation's alert catalog.
 *
 * <p>The catalog is a UTF-8 file in java.util.Properties syntax with up to three keys per alert
 * identifier: {@code <id>.long}, {@code <id>.short} and {@code <id>.description}. A missing or
 * unreadable catalog gives a mapper that knows no alert.
 */
public class AlertDefinitionMapper {
    private final Properties texts;

    private AlertDefinitionMapper(Properties texts) {
        this.texts = texts;
    }

    /** The mapper of the catalog at {@code path}; never null. */
    public static AlertDefinitionMapper get(String path) {
        Properties texts = new Properties();
        if (path != null) {
            Path file = Paths.get(path);
            if (Files.isRegularFile(file)) {
                try (InputStream in = Files.newInputStream(file);
                        Reader reader = new InputStreamReader(in, StandardCharsets.UTF_8)) {
                    texts.load(reader);
                } catch (IOException | IllegalArgumentException e) {
                    System.err.println("AlertDefinitionMapper: cannot read the alert catalog " + path + ": " + e);
                    texts = new Properties();
                }
            }
        }
        return new AlertDefinitionMapper(texts);
    }

    /** The long message of the alert, or null when the catalog has none. */
    public String getLongMessage(String alertId) {
        return text(alertId, "long");
    }

    /** The short message of the alert, or null when the catalog has none. */
    public String getShortMessage(String alertId) {
        return text(alertId, "short");
    }

    /** The description of the alert, or null when the catalog has none. */
    public String getDescription(String alertId) {
        return text(alertId, "description");
    }

    /** How many texts the catalog holds. */
    public int size() {
        return texts.size();
    }

    private String text(String alertId, String kind) {
        return alertId == null ? null : texts.getProperty(alertId + "." + kind);
    }
}
